# The acceptance suite: whole runs of the real updater under Wine, on real
# registry entries, installed copies and update folders, checked from outside.
lumiupd_add_test(test_run_acceptance
  ${CMAKE_CURRENT_LIST_DIR}/acceptance_support.cpp
  ${CMAKE_CURRENT_LIST_DIR}/acceptance_typical_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/acceptance_commands_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/acceptance_destinations_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/acceptance_codes_test.cpp
  ${CMAKE_SOURCE_DIR}/tests/exec/exec_testutil.cpp
  ${CMAKE_SOURCE_DIR}/tests/launch/shellfixture.cpp)
target_include_directories(test_run_acceptance PRIVATE ${CMAKE_CURRENT_LIST_DIR}
                           ${CMAKE_SOURCE_DIR}/tests/exec ${CMAKE_SOURCE_DIR}/tests/launch)
# The example scripts of docs/examples are read from the source tree; the
# shared command-test helpers look for their gate script beside themselves.
target_compile_definitions(test_run_acceptance PRIVATE LUMIUPD_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
                           LUMIUPD_TEST_SOURCE_DIR="${CMAKE_SOURCE_DIR}/tests/exec")
add_dependencies(test_run_acceptance Lumiupd MIRO42_fixture LumitelApp lumiplugin recorder shellwindow)
# The code 7 run needs the 1 MiB disk that the checks' fixture mounts as V:.
set_tests_properties(test_run_acceptance PROPERTIES FIXTURES_REQUIRED smalldisk)

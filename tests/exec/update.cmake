lumiupd_add_test(test_exec_update
  ${CMAKE_CURRENT_LIST_DIR}/update_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/update_paths_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/replacedst_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/update_e2e_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/exec_testutil.cpp)
target_compile_definitions(test_exec_update PRIVATE LUMIUPD_TEST_SOURCE_DIR="${CMAKE_CURRENT_LIST_DIR}")
target_include_directories(test_exec_update PRIVATE ${CMAKE_CURRENT_LIST_DIR})
# The progress dialog's template is read from the built updater.
add_dependencies(test_exec_update Lumiupd MIRO42_fixture)

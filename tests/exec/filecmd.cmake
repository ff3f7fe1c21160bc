lumiupd_add_test(test_exec_filecmd
  ${CMAKE_CURRENT_LIST_DIR}/filecmd_copy_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/filecmd_fail_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/filecmd_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/filecmd_dir_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/exec_testutil.cpp)
# The open gate is a Linux program that the tests start from under Wine.
target_compile_definitions(test_exec_filecmd PRIVATE LUMIUPD_TEST_SOURCE_DIR="${CMAKE_CURRENT_LIST_DIR}")
target_include_directories(test_exec_filecmd PRIVATE ${CMAKE_CURRENT_LIST_DIR})

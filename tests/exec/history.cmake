lumiupd_add_test(test_exec_history ${CMAKE_CURRENT_LIST_DIR}/history_test.cpp
                 ${CMAKE_CURRENT_LIST_DIR}/exec_testutil.cpp
                 ${CMAKE_CURRENT_LIST_DIR}/history_installed_test.cpp
                 ${CMAKE_CURRENT_LIST_DIR}/history_profile_test.cpp)
target_compile_definitions(test_exec_history PRIVATE LUMIUPD_TEST_SOURCE_DIR="${CMAKE_CURRENT_LIST_DIR}")

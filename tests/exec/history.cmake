lumiupd_add_test(test_exec_history ${CMAKE_CURRENT_LIST_DIR}/history_test.cpp
                 ${CMAKE_CURRENT_LIST_DIR}/history_installed_test.cpp)

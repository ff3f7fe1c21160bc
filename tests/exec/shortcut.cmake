lumiupd_add_test(test_exec_shortcut ${CMAKE_CURRENT_LIST_DIR}/shortcut_test.cpp
                 ${CMAKE_CURRENT_LIST_DIR}/shortcutname_test.cpp)

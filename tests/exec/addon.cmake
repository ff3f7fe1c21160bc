lumiupd_add_test(test_exec_addon ${CMAKE_CURRENT_LIST_DIR}/addon_test.cpp
                 ${CMAKE_CURRENT_LIST_DIR}/addon_exec_test.cpp)
add_dependencies(test_exec_addon lumiplugin recorder)

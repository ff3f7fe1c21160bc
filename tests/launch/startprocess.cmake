lumiupd_add_test(test_launch ${CMAKE_CURRENT_LIST_DIR}/startprocess_test.cpp
                 ${CMAKE_CURRENT_LIST_DIR}/launch_e2e_test.cpp ${CMAKE_CURRENT_LIST_DIR}/shellfixture.cpp)
add_dependencies(test_launch recorder shellwindow lumiplugin MIRO42_fixture Lumiupd)

lumiupd_add_test(test_launch ${CMAKE_CURRENT_LIST_DIR}/startprocess_test.cpp)
add_dependencies(test_launch recorder shellwindow)

lumiupd_add_test(test_script
  ${CMAKE_CURRENT_LIST_DIR}/scripttest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/parser_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/foldermacro_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/readscript_test.cpp)
add_dependencies(test_script MIRO42_fixture)

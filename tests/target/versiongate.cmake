lumiupd_add_test(test_target_versiongate
  ${CMAKE_CURRENT_LIST_DIR}/versiongate_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/versiongate_e2e_test.cpp)
add_dependencies(test_target_versiongate Lumiupd MIRO42_fixture)

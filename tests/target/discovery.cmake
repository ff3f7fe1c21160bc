lumiupd_add_test(test_target_discovery
  ${CMAKE_CURRENT_LIST_DIR}/discovery_browse.cpp
  ${CMAKE_CURRENT_LIST_DIR}/discovery_destlist_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/discovery_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/discovery_e2e_test.cpp)
add_dependencies(test_target_discovery MIRO42_fixture Lumiupd)

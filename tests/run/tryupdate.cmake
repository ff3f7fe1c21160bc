# make try-update's and make try-matrix's scripts, on a docs example
# (scripts/try-update.sh, scripts/try-matrix.sh).
if(CMAKE_CROSSCOMPILING AND CMAKE_HOST_UNIX)
  add_test(NAME try_update COMMAND ${CMAKE_CURRENT_LIST_DIR}/try_update.sh ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR})
  set_tests_properties(try_update PROPERTIES TIMEOUT 300)
  add_test(NAME try_matrix COMMAND ${CMAKE_CURRENT_LIST_DIR}/try_matrix.sh ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR})
  set_tests_properties(try_matrix PROPERTIES TIMEOUT 300)
endif()

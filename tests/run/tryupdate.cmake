# make try-update's script, on a docs example (scripts/try-update.sh).
if(CMAKE_CROSSCOMPILING AND CMAKE_HOST_UNIX)
  add_test(NAME try_update COMMAND ${CMAKE_CURRENT_LIST_DIR}/try_update.sh ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR})
  set_tests_properties(try_update PROPERTIES TIMEOUT 300)
endif()

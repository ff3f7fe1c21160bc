# Signing, packaging and an update run from the packaged folder (scripts/sign.sh, scripts/package.sh).
if(CMAKE_CROSSCOMPILING AND CMAKE_HOST_UNIX)
  add_test(NAME release_package COMMAND ${CMAKE_CURRENT_LIST_DIR}/release_package.sh ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR})
  set_tests_properties(release_package PROPERTIES TIMEOUT 600)
endif()

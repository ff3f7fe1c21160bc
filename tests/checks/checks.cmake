lumiupd_add_test(test_checks
  ${CMAKE_CURRENT_LIST_DIR}/checkrules_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/checkfile_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/diskspace_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/checks_e2e_test.cpp)
add_dependencies(test_checks LumitelApp MIRO42_fixture Lumiupd)

# The small disk lives only while the tests that use it run.
add_test(NAME checks_smalldisk_mount COMMAND ${CMAKE_CURRENT_LIST_DIR}/smalldisk.sh mount ${CMAKE_BINARY_DIR})
add_test(NAME checks_smalldisk_umount COMMAND ${CMAKE_CURRENT_LIST_DIR}/smalldisk.sh umount ${CMAKE_BINARY_DIR})
set_tests_properties(checks_smalldisk_mount PROPERTIES FIXTURES_SETUP smalldisk TIMEOUT 60)
set_tests_properties(checks_smalldisk_umount PROPERTIES FIXTURES_CLEANUP smalldisk TIMEOUT 60)
set_tests_properties(test_checks PROPERTIES FIXTURES_REQUIRED smalldisk)

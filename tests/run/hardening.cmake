# Hardening: planted DLLs, plug-ins that crash, and runs that meet faults on
# the way (an abort at each prompt, a vanished source, a read-only file, a
# disk that fills), checked against the installed files.
lumiupd_add_test(test_run_hardening
  ${CMAKE_CURRENT_LIST_DIR}/hardening_util.cpp
  ${CMAKE_CURRENT_LIST_DIR}/hardening_planting_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/hardening_plugin_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/hardening_faults_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/hardening_atomic_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/hardening_package_test.cpp
  ${CMAKE_SOURCE_DIR}/tests/target/discovery_browse.cpp)
target_include_directories(test_run_hardening PRIVATE ${CMAKE_CURRENT_LIST_DIR} ${CMAKE_SOURCE_DIR}/tests/target)
add_dependencies(test_run_hardening Lumiupd MIRO42_fixture lumiplugin recorder planted dllprobe lumideps lumicompanion)

# The small disk W: (4 MiB: the update folder's own files must pass the space
# check) lives only while the hardening tests run.
set(smalldisk ${CMAKE_SOURCE_DIR}/tests/checks/smalldisk.sh)
add_test(NAME hardening_disk_mount COMMAND ${smalldisk} mount ${CMAKE_BINARY_DIR} w 4m)
add_test(NAME hardening_disk_umount COMMAND ${smalldisk} umount ${CMAKE_BINARY_DIR} w)
set_tests_properties(hardening_disk_mount PROPERTIES FIXTURES_SETUP hardening_disk TIMEOUT 60)
set_tests_properties(hardening_disk_umount PROPERTIES FIXTURES_CLEANUP hardening_disk TIMEOUT 60)
set_tests_properties(test_run_hardening PROPERTIES FIXTURES_REQUIRED hardening_disk)

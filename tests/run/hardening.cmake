# Hardening: planted DLLs, plug-ins that crash, and runs that meet faults on
# the way (an abort at each prompt, a vanished source, a read-only file, a
# disk that fills), checked against the installed files.
lumiupd_add_test(test_run_hardening
  ${CMAKE_CURRENT_LIST_DIR}/hardening_util.cpp
  ${CMAKE_CURRENT_LIST_DIR}/hardening_planting_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/hardening_plugin_test.cpp
  ${CMAKE_SOURCE_DIR}/tests/target/discovery_browse.cpp)
target_include_directories(test_run_hardening PRIVATE ${CMAKE_CURRENT_LIST_DIR} ${CMAKE_SOURCE_DIR}/tests/target)
add_dependencies(test_run_hardening Lumiupd MIRO42_fixture lumiplugin recorder planted dllprobe lumideps lumicompanion)

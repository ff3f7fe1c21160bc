lumiupd_add_test(test_ui_progress
  ${CMAKE_CURRENT_LIST_DIR}/progressdlg_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/resources_test.cpp)
# The dialog template and the manifest are read from the built updater.
add_dependencies(test_ui_progress Lumiupd LumiupdCheck)
# The version resources carry the project version.
target_compile_definitions(test_ui_progress PRIVATE LUMIUPD_VERSION="${PROJECT_VERSION}")

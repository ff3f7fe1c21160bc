# The script checker (tools/lumiupdcheck): the parser's line reports in
# process, the checker as a real process, and its agreement with the updater.
lumiupd_add_test(test_script_checker
  ${CMAKE_CURRENT_LIST_DIR}/scripttest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/linereport_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/checker/checkrun.cpp
  ${CMAKE_CURRENT_LIST_DIR}/checker/checkercases.cpp
  ${CMAKE_CURRENT_LIST_DIR}/checker/checker_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/checker/agreement_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/checker/docs_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/checker/scripttext_test.cpp
  ${CMAKE_SOURCE_DIR}/tools/lumiupdcheck/scripttext.cpp)
target_include_directories(test_script_checker PRIVATE ${CMAKE_CURRENT_LIST_DIR} ${CMAKE_SOURCE_DIR}/tools/lumiupdcheck)
target_compile_definitions(test_script_checker PRIVATE LUMIUPD_SOURCE_ROOT="${CMAKE_SOURCE_DIR}")
add_dependencies(test_script_checker LumiupdCheck Lumiupd)

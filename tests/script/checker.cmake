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

# Both checkers, LumiupdCheck.exe under Wine and the native lumiupd-check, on
# every script of the suite: the same findings and exit codes.
if(CMAKE_CROSSCOMPILING AND CMAKE_HOST_UNIX)
  add_executable(checker_scripts
    ${CMAKE_CURRENT_LIST_DIR}/checker/dumpscripts.cpp
    ${CMAKE_CURRENT_LIST_DIR}/checker/checkercases.cpp
    ${CMAKE_CURRENT_LIST_DIR}/checker/checkrun.cpp
    ${CMAKE_CURRENT_LIST_DIR}/scripttest.cpp)
  target_include_directories(checker_scripts PRIVATE ${CMAKE_CURRENT_LIST_DIR})
  target_compile_definitions(checker_scripts PRIVATE LUMIUPD_SOURCE_ROOT="${CMAKE_SOURCE_DIR}")
  target_link_libraries(checker_scripts PRIVATE lumiupd_core lumiupd_testsupport gtest ${LUMIUPD_STATIC_LINK})
  add_dependencies(checker_scripts LumiupdCheck lumiupd_check_native)
  add_test(NAME checker_native_agreement
           COMMAND python3 ${CMAKE_CURRENT_LIST_DIR}/checker/native_agreement.py ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR})
  set_tests_properties(checker_native_agreement PROPERTIES TIMEOUT 600)
endif()

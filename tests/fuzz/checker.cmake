# The script checker (tools/lumiupdcheck) over the parser, natively.
set(CHECKER ${CMAKE_CURRENT_SOURCE_DIR}/../../tools/lumiupdcheck)
fuzz_target(checker fuzz_checker.cpp
  ${CHECKER}/checker.cpp ${CHECKER}/linecheck.cpp ${CHECKER}/commandcheck.cpp ${CHECKER}/mistakecheck.cpp ${CHECKER}/foldercheck.cpp
  ${CHECKER}/summary.cpp ${CHECKER}/findings.cpp ${CHECKER}/macrocheck.cpp ${CHECKER}/scripttext.cpp
  ${SRC}/script/parser.cpp ${SRC}/script/scriptcmd.cpp ${SRC}/script/script.cpp ${SRC}/script/foldermacro.cpp
  ${SRC}/script/foldermacro_cp932.cpp ${SRC}/target/versiongate.cpp ${SRC}/exec/shortcutname.cpp
  ${SRC}/base/messages.cpp)
target_include_directories(fuzz_checker PRIVATE ${CHECKER})

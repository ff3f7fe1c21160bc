# The script parser, the version matcher, the INSTALLED merge, the "%DSTPATH%"
# replacement and the shortcut name rules, from the updater's own sources.
fuzz_target(script fuzz_script.cpp
  ${SRC}/script/parser.cpp ${SRC}/script/scriptcmd.cpp ${SRC}/script/script.cpp
  ${SRC}/script/foldermacro.cpp ${SRC}/script/foldermacro_cp932.cpp)
fuzz_target(version fuzz_version.cpp ${SRC}/target/versiongate.cpp)
fuzz_target(installed fuzz_installed.cpp ${SRC}/exec/historytext.cpp)
fuzz_target(dstpath fuzz_dstpath.cpp ${SRC}/exec/replacedst.cpp)
fuzz_target(shortcutname fuzz_shortcutname.cpp ${SRC}/exec/shortcutname.cpp)
fuzz_target(profile fuzz_profile.cpp ${SRC}/exec/profiletext.cpp ${SRC}/exec/profilecode.cpp)
# The all-or-nothing update's journal: its reader and its record format.
fuzz_target(journal fuzz_journal.cpp ${SRC}/exec/journal.cpp)

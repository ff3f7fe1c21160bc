# The package manifest's reader, shared by the updater and the checker.
fuzz_target(manifest fuzz_manifest.cpp ${SRC}/checks/manifest.cpp ${SRC}/checks/manifestimage.cpp)

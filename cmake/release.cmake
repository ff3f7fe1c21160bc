# LUMIUPD_REPRODUCIBLE=ON (make release): executables that are the same byte
# for byte from any folder on any day. No time stamp in the PE header, no
# source or build folder in the code (__FILE__ and the like), no symbols.
option(LUMIUPD_REPRODUCIBLE "build without time stamps, build paths and symbols" OFF)
if(LUMIUPD_REPRODUCIBLE AND NOT MSVC)
  add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}=. -ffile-prefix-map=${CMAKE_BINARY_DIR}=build)
  add_link_options(-s -Wl,--no-insert-timestamp)
elseif(LUMIUPD_REPRODUCIBLE)
  add_compile_options(/Brepro)
  add_link_options(/Brepro)
endif()

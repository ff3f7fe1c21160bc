# System libraries that the updater's executables import on first call rather
# than at start (src/run/delayload_win.cpp holds the loader's hooks).
set(LUMIUPD_DELAYED_LIBRARIES user32 gdi32 shlwapi advapi32)

if(MSVC)
  set(LUMIUPD_DELAYED_LINK delayimp ${LUMIUPD_DELAYED_LIBRARIES})
  foreach(lib ${LUMIUPD_DELAYED_LIBRARIES})
    list(APPEND LUMIUPD_DELAYED_LINK_OPTIONS /DELAYLOAD:${lib}.dll)
  endforeach()
else()
  # MinGW has no linker switch for it: a delay-import library is made from the
  # toolchain's own import library, with every call it offers, so that no call
  # of these libraries can fall back to a plain import.
  set(LUMIUPD_DELAYED_LINK)
  set(LUMIUPD_DELAYED_LINK_OPTIONS)
  foreach(lib ${LUMIUPD_DELAYED_LIBRARIES})
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=lib${lib}.a
                    OUTPUT_VARIABLE implib OUTPUT_STRIP_TRAILING_WHITESPACE)
    execute_process(COMMAND ${CMAKE_NM} -g --defined-only ${implib}
                    OUTPUT_VARIABLE symbols RESULT_VARIABLE nm_failed)
    if(nm_failed)
      message(FATAL_ERROR "cannot list the calls of ${implib}")
    endif()
    # "_Name@8" is a stdcall call, "_Name" a cdecl one; __imp_ and other
    # helper symbols are not calls.
    string(REGEX MATCHALL "\n[0-9a-f]+ T _[A-Za-z][A-Za-z0-9_]*(@[0-9]+)?" calls "\n${symbols}")
    list(REMOVE_DUPLICATES calls)
    set(def "LIBRARY ${lib}.dll\nEXPORTS\n")
    foreach(call ${calls})
      string(REGEX REPLACE "^\n[0-9a-f]+ T _" "" call "${call}")
      string(APPEND def "${call}\n")
    endforeach()
    set(def_file ${CMAKE_BINARY_DIR}/delayload/${lib}.def)
    set(out ${CMAKE_BINARY_DIR}/delayload/lib${lib}_delayed.a)
    set(old_def "")
    if(EXISTS ${def_file})
      file(READ ${def_file} old_def)
    endif()
    if(NOT old_def STREQUAL def)  # rewritten only when it changes: no relink
      file(WRITE ${def_file} "${def}")
    endif()
    # Named relative to their folder: dlltool makes symbol names of the
    # output's path, and a release is built in two places to compare.
    add_custom_command(OUTPUT ${out}
      COMMAND ${CMAKE_DLLTOOL} -k -d ${lib}.def -D ${lib}.dll -y lib${lib}_delayed.a --temp-prefix ${lib}_
      WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/delayload
      DEPENDS ${def_file} VERBATIM)
    list(APPEND LUMIUPD_DELAYED_LINK ${out})
  endforeach()
  add_custom_target(lumiupd_delayed_libraries DEPENDS ${LUMIUPD_DELAYED_LINK})
  # Declared as imports, the calls would go straight through the import
  # table; the linker then drops the stubs that load the library on first
  # call and leaves those entries empty. Declared plain, every call goes
  # through its stub.
  set(LUMIUPD_DELAYED_DEFINITIONS _USER32_ _GDI32_ _SHLWAPI_ _ADVAPI32_)
endif()

# Links TARGET against the delayed libraries and the hooks that load them.
function(lumiupd_delay_load target)
  target_compile_definitions(${target} PRIVATE ${LUMIUPD_DELAYED_DEFINITIONS})
  target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/src/run/delayload_win.cpp)
  target_link_libraries(${target} PRIVATE ${LUMIUPD_DELAYED_LINK})
  target_link_options(${target} PRIVATE ${LUMIUPD_DELAYED_LINK_OPTIONS})
  if(TARGET lumiupd_delayed_libraries)
    add_dependencies(${target} lumiupd_delayed_libraries)
  endif()
endfunction()

# The one version source: the project version (project(... VERSION ...)).
# Each executable gets a version resource made from it.
set(LUMIUPD_COMPANY "Kevrani" CACHE STRING "CompanyName of the executables")
set(LUMIUPD_PRODUCT "ルミテル 更新プログラム" CACHE STRING "ProductName of the executables")
set(LUMIUPD_COPYRIGHT "Copyright (C) 2026 Kevrani" CACHE STRING "LegalCopyright of the executables")

# lumiupd_version_resource(TARGET "description"): TARGET.exe gets its resource.
function(lumiupd_version_resource target description)
  set(LUMIUPD_VERSION_NAME ${target})
  set(LUMIUPD_VERSION_FILE ${target}.exe)
  set(LUMIUPD_VERSION_DESCRIPTION "${description}")
  set(parts)
  foreach(part MAJOR MINOR PATCH TWEAK)
    if("${PROJECT_VERSION_${part}}" STREQUAL "")
      list(APPEND parts 0)
    else()
      list(APPEND parts ${PROJECT_VERSION_${part}})
    endif()
  endforeach()
  list(JOIN parts "," LUMIUPD_VERSION_COMMAS)
  set(rc ${CMAKE_BINARY_DIR}/version/${target}.rc)
  configure_file(${CMAKE_SOURCE_DIR}/src/ui/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()

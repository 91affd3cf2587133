# The Windows build, cross-compiled with cmake/toolchain-mingw-w64-x86_64.cmake
# and tested under Wine. Included by the top-level CMakeLists.txt before the
# library's dependencies are looked up; it provides what a Linux build takes
# from the system:
#   - yyjson::yyjson, GTest::gtest and GTest::gtest_main, compiled from
#     source (cmake/KrxFromSource.cmake);
#   - a Wine wrapper as CMAKE_CROSSCOMPILING_EMULATOR, so that CTest (and
#     GoogleTest's test discovery) run the Windows programs;
#   - the DLL's link settings: a .def file of its exports beside it.
# Every program and the DLL go to <build>/bin, so each program finds the DLL
# in its own directory, as Windows looks there first.
if(NOT (WIN32 AND CMAKE_CROSSCOMPILING))
  return()
endif()

set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set(CMAKE_ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib)

# ---- yyjson and GoogleTest ----------------------------------------------------
include(${CMAKE_CURRENT_LIST_DIR}/KrxFromSource.cmake)
krx_yyjson_from_source()
if(KRX_BUILD_TESTS)
  krx_googletest_from_source()
endif()

# ---- running the programs under Wine ------------------------------------------
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(KRX_WINE64 NAMES wine64 wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
  find_program(KRX_WINE64 NAMES wine64 wine)
  if(NOT KRX_WINE64)
    message(WARNING "Wine not found: the Windows programs build, but CTest cannot run them "
                    "(scripts/install-deps.sh --windows installs it)")
  else()
    set(KRX_WINEPREFIX ${CMAKE_BINARY_DIR}/wine-prefix CACHE PATH
        "Wine prefix in which the tests run")
    set(krx_wine_run ${CMAKE_BINARY_DIR}/wine-run.sh)
    file(WRITE ${krx_wine_run}
      "#!/bin/sh\n"
      "# Runs a Windows program of this build under Wine (written by cmake/windows-build.cmake).\n"
      "WINEPREFIX=\"\${KRX_WINEPREFIX:-${KRX_WINEPREFIX}}\"\n"
      "WINEDEBUG=\"\${WINEDEBUG:--all}\"\n"
      "WINEDLLOVERRIDES=\"\${WINEDLLOVERRIDES:-mscoree,mshtml=}\"\n"
      "export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES\n"
      "exec \"${KRX_WINE64}\" \"$@\"\n")
    file(CHMOD ${krx_wine_run} PERMISSIONS
         OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${krx_wine_run})
  endif()
endif()

# ---- the DLL's own settings, once the top-level targets exist ---------------
# The DLL is kelvaron-regex.dll with the import library
# lib/libkelvaron-regex.dll.a; beside the DLL the linker also writes
# kelvaron-regex.def, the list of its exports, for hosts that make their own
# import library (lib /def: with Microsoft's tools).
function(krx_windows_dll_settings)
  if(TARGET kelvaron-regex)
    # kelvaron-regex.dll, not libkelvaron-regex.dll; the import library keeps
    # mingw's usual name.
    set_target_properties(kelvaron-regex PROPERTIES PREFIX "" IMPORT_PREFIX "lib")
    target_link_options(kelvaron-regex PRIVATE
      "-Wl,--output-def,$<TARGET_FILE_DIR:kelvaron-regex>/kelvaron-regex.def")
  endif()
endfunction()
cmake_language(DEFER CALL krx_windows_dll_settings)

# The Windows build, cross-compiled with cmake/toolchain-mingw-w64-x86_64.cmake
# and tested under Wine. Included by the top-level CMakeLists.txt before the
# library's dependencies are looked up; it provides what a Linux build takes
# from the system:
#   - yyjson::yyjson, yyjson compiled from its source as a static library
#     (scripts/fetch-yyjson-source.sh fetches the source, or point
#     KRX_YYJSON_SOURCE_DIR at an unpacked yyjson source tree);
#   - GTest::gtest and GTest::gtest_main, GoogleTest compiled from the
#     sources that Debian's googletest package ships in /usr/src/googletest;
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

# ---- yyjson ------------------------------------------------------------------
set(KRX_YYJSON_SOURCE_DIR "" CACHE PATH
    "Unpacked yyjson source tree for the Windows build (empty: fetch it)")
set(krx_yyjson_dir "${KRX_YYJSON_SOURCE_DIR}")
if(krx_yyjson_dir STREQUAL "")
  execute_process(
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/../scripts/fetch-yyjson-source.sh
            ${CMAKE_BINARY_DIR}/_deps/yyjson
    OUTPUT_VARIABLE krx_fetch_out
    RESULT_VARIABLE krx_fetch_rc
    OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT krx_fetch_rc EQUAL 0)
    message(FATAL_ERROR "could not fetch the yyjson source (scripts/fetch-yyjson-source.sh)")
  endif()
  string(REGEX REPLACE ".*\n" "" krx_yyjson_dir "${krx_fetch_out}")
endif()
if(NOT EXISTS "${krx_yyjson_dir}/src/yyjson.c")
  message(FATAL_ERROR "no yyjson source in '${krx_yyjson_dir}' (expected src/yyjson.c)")
endif()
file(STRINGS "${krx_yyjson_dir}/src/yyjson.h" krx_yyjson_version_line
     REGEX "^#define YYJSON_VERSION_STRING ")
string(REGEX REPLACE ".*\"([^\"]*)\".*" "\\1" KRX_YYJSON_VERSION "${krx_yyjson_version_line}")
if(KRX_YYJSON_VERSION VERSION_LESS 0.10)
  message(FATAL_ERROR "yyjson ${KRX_YYJSON_VERSION} is too old: 0.10 or later is needed")
endif()
message(STATUS "yyjson ${KRX_YYJSON_VERSION} from source: ${krx_yyjson_dir}")

# Compiled as C, without the project's warning flags (it is not our code);
# only the reader is used, but the whole library is small and kept whole.
add_library(krx_yyjson STATIC ${krx_yyjson_dir}/src/yyjson.c)
target_include_directories(krx_yyjson SYSTEM PUBLIC ${krx_yyjson_dir}/src)
set_target_properties(krx_yyjson PROPERTIES
  C_STANDARD 99
  ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/_deps/yyjson/lib)
add_library(yyjson::yyjson ALIAS krx_yyjson)

# ---- GoogleTest --------------------------------------------------------------
if(KRX_BUILD_TESTS)
  set(KRX_GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH
      "GoogleTest source tree for the Windows build")
  if(NOT EXISTS "${KRX_GOOGLETEST_SOURCE_DIR}/googletest/CMakeLists.txt")
    message(FATAL_ERROR "no GoogleTest source in '${KRX_GOOGLETEST_SOURCE_DIR}' "
                        "(install the googletest package)")
  endif()
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  # static libraries, whatever BUILD_SHARED_LIBS says of the project's own
  # (in a function, so that only GoogleTest's folder sees it; its option()
  # keeps the value only under the newer rule CMP0077)
  function(krx_add_googletest)
    set(BUILD_SHARED_LIBS OFF)
    set(CMAKE_POLICY_DEFAULT_CMP0077 NEW)
    add_subdirectory(${KRX_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/_deps/googletest
                     EXCLUDE_FROM_ALL)
  endfunction()
  krx_add_googletest()
  # find_package(GTest) finds the targets just made through this stub.
  set(krx_gtest_config_dir ${CMAKE_BINARY_DIR}/_deps/gtest-config)
  file(WRITE ${krx_gtest_config_dir}/GTestConfig.cmake
    "# GoogleTest is compiled from source within this build.\n"
    "if(NOT TARGET GTest::gtest OR NOT TARGET GTest::gtest_main)\n"
    "  set(GTest_FOUND FALSE)\n"
    "endif()\n")
  set(GTest_DIR ${krx_gtest_config_dir} CACHE PATH "GoogleTest package (built from source)" FORCE)
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

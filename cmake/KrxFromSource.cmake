# Dependencies compiled from source for the cross builds (Windows with
# mingw-w64, WebAssembly with emscripten), which cannot use the system's:
#   krx_yyjson_from_source()      yyjson::yyjson, a static yyjson
#                                 (scripts/fetch-yyjson-source.sh fetches the
#                                 source, or point KRX_YYJSON_SOURCE_DIR at an
#                                 unpacked yyjson source tree);
#   krx_googletest_from_source()  GTest::gtest and GTest::gtest_main, from the
#                                 sources that Debian's googletest package
#                                 ships in /usr/src/googletest.
include_guard(GLOBAL)
set(KRX_SCRIPTS_DIR ${CMAKE_CURRENT_LIST_DIR}/../scripts)

macro(krx_yyjson_from_source)
  set(KRX_YYJSON_SOURCE_DIR "" CACHE PATH
      "Unpacked yyjson source tree for a cross build (empty: fetch it)")
  set(krx_yyjson_dir "${KRX_YYJSON_SOURCE_DIR}")
  if(krx_yyjson_dir STREQUAL "")
    execute_process(
      COMMAND bash ${KRX_SCRIPTS_DIR}/fetch-yyjson-source.sh
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
endmacro()

macro(krx_googletest_from_source)
  set(KRX_GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH
      "GoogleTest source tree for a cross build")
  if(NOT EXISTS "${KRX_GOOGLETEST_SOURCE_DIR}/googletest/CMakeLists.txt")
    message(FATAL_ERROR "no GoogleTest source in '${KRX_GOOGLETEST_SOURCE_DIR}' "
                        "(install the googletest package)")
  endif()
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${KRX_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/_deps/googletest
                   EXCLUDE_FROM_ALL)
  # find_package(GTest) finds the targets just made through this stub.
  set(krx_gtest_config_dir ${CMAKE_BINARY_DIR}/_deps/gtest-config)
  file(WRITE ${krx_gtest_config_dir}/GTestConfig.cmake
    "# GoogleTest is compiled from source within this build.\n"
    "if(NOT TARGET GTest::gtest OR NOT TARGET GTest::gtest_main)\n"
    "  set(GTest_FOUND FALSE)\n"
    "endif()\n")
  set(GTest_DIR ${krx_gtest_config_dir} CACHE PATH "GoogleTest package (built from source)" FORCE)
endmacro()

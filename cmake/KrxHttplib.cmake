# cpp-httplib for the command-line host's serve command, as the target
# krx_httplib:
#   - Linux: Debian's libcpp-httplib-dev, which splits the library into the
#     header and libcpp-httplib.so (found with pkg-config; its flags must be
#     those the library was built with);
#   - the Windows cross build: upstream's single header from the source
#     package of the same Debian version (scripts/fetch-httplib-source.sh,
#     or KRX_HTTPLIB_SOURCE_DIR), compiled into the host, with Winsock
#     (ws2_32) and the shell (ShellExecuteW, for --open).
if(TARGET krx_httplib)
  return()
endif()
add_library(krx_httplib INTERFACE)
if(EMSCRIPTEN)
  return() # the WebAssembly build makes no command-line host
endif()
find_package(Threads REQUIRED)
target_link_libraries(krx_httplib INTERFACE Threads::Threads)

if(WIN32 AND CMAKE_CROSSCOMPILING)
  set(KRX_HTTPLIB_SOURCE_DIR "" CACHE PATH
      "Unpacked cpp-httplib source tree for the Windows build (empty: fetch it)")
  set(krx_httplib_dir "${KRX_HTTPLIB_SOURCE_DIR}")
  if(krx_httplib_dir STREQUAL "")
    execute_process(
      COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/fetch-httplib-source.sh ${CMAKE_BINARY_DIR}/_deps/httplib
      OUTPUT_VARIABLE krx_fetch_out
      RESULT_VARIABLE krx_fetch_rc
      OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT krx_fetch_rc EQUAL 0)
      message(FATAL_ERROR "could not fetch the cpp-httplib source (scripts/fetch-httplib-source.sh)")
    endif()
    string(REGEX REPLACE ".*\n" "" krx_httplib_dir "${krx_fetch_out}")
  endif()
  if(NOT EXISTS "${krx_httplib_dir}/httplib.h")
    message(FATAL_ERROR "no cpp-httplib source in '${krx_httplib_dir}' (expected httplib.h)")
  endif()
  # The header alone in a folder of its own, so that nothing else of the
  # source tree is on the include path.
  configure_file(${krx_httplib_dir}/httplib.h ${CMAKE_BINARY_DIR}/_deps/httplib/include/httplib.h COPYONLY)
  target_include_directories(krx_httplib SYSTEM INTERFACE ${CMAKE_BINARY_DIR}/_deps/httplib/include)
  target_link_libraries(krx_httplib INTERFACE ws2_32 shell32)
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(KRX_HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
  target_link_libraries(krx_httplib INTERFACE PkgConfig::KRX_HTTPLIB)
endif()

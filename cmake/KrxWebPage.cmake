# The pattern tester page, assembled for `kelvaron-regex serve`:
#   <folder of the host>/web/   the files of web/ (its *.html, *.css, *.js, *.svg;
#                               not web/tests or web/bench) and
#   <...>/web/kelvaron-regex/   the JavaScript package's ES module and its
#                               WebAssembly module, from KRX_JS_PACKAGE_DIR
#                               (the package folder the WebAssembly build
#                               makes: scripts/build-wasm.sh).
# The target krx_web_page assembles it on every build (copying only what
# changed), so a package built after this build was configured is taken
# too. The page installs under share/kelvaron-regex/web/, where an installed
# host and the Windows zip's find it.
if(EMSCRIPTEN)
  return() # the WebAssembly build makes no command-line host
endif()
set(KRX_JS_PACKAGE_DIR ${PROJECT_SOURCE_DIR}/build-wasm/js/kelvaron-regex CACHE PATH
    "The JavaScript package folder of the WebAssembly build, for the tester page")
if(CMAKE_RUNTIME_OUTPUT_DIRECTORY)
  set(KRX_WEB_PAGE_DIR ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/web)
else()
  set(KRX_WEB_PAGE_DIR ${PROJECT_BINARY_DIR}/web)
endif()
add_custom_target(krx_web_page ALL
  COMMAND ${CMAKE_COMMAND} -DKRX_WEB_SOURCE=${PROJECT_SOURCE_DIR}/web -DKRX_JS_PACKAGE_DIR=${KRX_JS_PACKAGE_DIR}
          -DKRX_WEB_PAGE_DIR=${KRX_WEB_PAGE_DIR} -P ${CMAKE_CURRENT_LIST_DIR}/KrxWebAssemble.cmake
  COMMENT "Assembling the tester page in ${KRX_WEB_PAGE_DIR}"
  VERBATIM)
add_dependencies(kelvaron-regex-cli krx_web_page)

# Run by the target krx_web_page (cmake/KrxWebPage.cmake) with -P:
# copies the page's files from KRX_WEB_SOURCE and the package's from
# KRX_JS_PACKAGE_DIR/lib into KRX_WEB_PAGE_DIR, only those that changed, and
# removes files of earlier builds that are no longer part of the page.
cmake_policy(SET CMP0057 NEW) # if(IN_LIST)
set(krx_package_files index.js module.js kelvaron-regex.wasm)
file(GLOB krx_page_files RELATIVE ${KRX_WEB_SOURCE}
     ${KRX_WEB_SOURCE}/*.html ${KRX_WEB_SOURCE}/*.css ${KRX_WEB_SOURCE}/*.js ${KRX_WEB_SOURCE}/*.svg)
file(MAKE_DIRECTORY ${KRX_WEB_PAGE_DIR})
set(krx_wanted "")
foreach(name IN LISTS krx_page_files)
  file(COPY_FILE ${KRX_WEB_SOURCE}/${name} ${KRX_WEB_PAGE_DIR}/${name} ONLY_IF_DIFFERENT)
  list(APPEND krx_wanted ${name})
endforeach()

set(krx_have_package ON)
foreach(name IN LISTS krx_package_files)
  if(NOT EXISTS ${KRX_JS_PACKAGE_DIR}/lib/${name})
    set(krx_have_package OFF)
  endif()
endforeach()
if(krx_have_package)
  file(MAKE_DIRECTORY ${KRX_WEB_PAGE_DIR}/kelvaron-regex)
  foreach(name IN LISTS krx_package_files)
    file(COPY_FILE ${KRX_JS_PACKAGE_DIR}/lib/${name} ${KRX_WEB_PAGE_DIR}/kelvaron-regex/${name} ONLY_IF_DIFFERENT)
    list(APPEND krx_wanted kelvaron-regex/${name})
  endforeach()
else()
  message(STATUS "The tester page has no engine yet: ${KRX_JS_PACKAGE_DIR} holds no built package "
                 "(scripts/build-wasm.sh builds it); the page says so when it is opened.")
endif()

file(GLOB_RECURSE krx_present RELATIVE ${KRX_WEB_PAGE_DIR} ${KRX_WEB_PAGE_DIR}/*)
foreach(name IN LISTS krx_present)
  if(NOT name IN_LIST krx_wanted)
    file(REMOVE ${KRX_WEB_PAGE_DIR}/${name})
  endif()
endforeach()

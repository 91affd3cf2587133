# The Windows zip, made by every Windows build with CPack's ZIP generator:
# <build>/kelvaron-regex-<version>-win64.zip holds, under a folder of the
# same name, what the install rules put there (the DLL, its .def file, the
# command-line host, the import library, the header, the CMake package, the
# LICENSE, the tester page under share/kelvaron-regex/web) and a short
# README.txt. The Wine suite unpacks it and runs the host from it
# (tests/windows/zip_test.sh).
configure_file(${CMAKE_CURRENT_LIST_DIR}/README-windows.txt
  ${PROJECT_BINARY_DIR}/package/README.txt @ONLY NEWLINE_STYLE CRLF)
install(FILES ${PROJECT_BINARY_DIR}/package/README.txt DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME kelvaron-regex)
set(CPACK_PACKAGE_VENDOR kelvaron-regex)
set(CPACK_PACKAGE_FILE_NAME kelvaron-regex-${PROJECT_VERSION}-win64)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_SOURCE_GENERATOR "")
# Before include(CPack), which leaves its source package's name in
# CPACK_PACKAGE_FILE_NAME.
set(KRX_WINDOWS_ZIP ${PROJECT_BINARY_DIR}/${CPACK_PACKAGE_FILE_NAME}.zip)
include(CPack)
add_custom_command(OUTPUT ${KRX_WINDOWS_ZIP}
  COMMAND ${CMAKE_CPACK_COMMAND} -G ZIP --config ${PROJECT_BINARY_DIR}/CPackConfig.cmake -C Release
  DEPENDS kelvaron-regex kelvaron-regex-cli krx_web_page ${PROJECT_SOURCE_DIR}/include/kelvaron_regex.h
          ${PROJECT_SOURCE_DIR}/LICENSE
          ${PROJECT_BINARY_DIR}/package/README.txt
  WORKING_DIRECTORY ${PROJECT_BINARY_DIR}
  COMMENT "Packing ${KRX_WINDOWS_ZIP}"
  VERBATIM)
add_custom_target(windows_zip ALL DEPENDS ${KRX_WINDOWS_ZIP})

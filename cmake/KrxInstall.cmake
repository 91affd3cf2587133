# What `cmake --install` puts where (GNUInstallDirs):
#   lib/      libkelvaron-regex.so.0.2.0, its soname link libkelvaron-regex.so.0
#             and the development link libkelvaron-regex.so, or with
#             BUILD_SHARED_LIBS=OFF the static libkelvaron-regex.a (on
#             Windows: bin/kelvaron-regex.dll, bin/kelvaron-regex.def and the
#             import library lib/libkelvaron-regex.dll.a)
#   include/  kelvaron_regex.h
#   bin/      the command-line host kelvaron-regex
#   share/kelvaron-regex/web/  the tester page that `kelvaron-regex serve` serves
#   lib/cmake/kelvaron-regex/  the CMake package (targets, config, version)
#   lib/pkgconfig/kelvaron-regex.pc (not on Windows: there the build makes
#             the zip of cmake/KrxWindowsZip.cmake instead)
#   share/doc/kelvaron-regex/LICENSE (on Windows: LICENSE at the top)
#   share/man/man1/kelvaron-regex.1, the host's manual page, and
#   share/bash-completion/completions/kelvaron-regex, its completion (not
#             on Windows)
# Everything is relocatable: `cmake --install build --prefix P` gives a
# working tree under P whatever CMAKE_INSTALL_PREFIX was at configure time.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(KRX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/kelvaron-regex)

install(TARGETS kelvaron-regex EXPORT kelvaron-regex-targets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/kelvaron_regex.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
if(WIN32)
  install(FILES $<TARGET_FILE_DIR:kelvaron-regex>/kelvaron-regex.def
    DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# The host carries the engine (krx_engine) in itself.
install(TARGETS kelvaron-regex-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The tester page, where `kelvaron-regex serve` looks for it (bin/../share).
install(DIRECTORY ${KRX_WEB_PAGE_DIR}/ DESTINATION ${CMAKE_INSTALL_DATADIR}/kelvaron-regex/web)

# The licence, and (for Linux) the host's manual page, with the project's
# version written in, and its bash completion.
if(WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION .)
else()
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
  configure_file(${PROJECT_SOURCE_DIR}/tools/kelvaron-regex.1 ${PROJECT_BINARY_DIR}/package/kelvaron-regex.1 @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/package/kelvaron-regex.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${PROJECT_SOURCE_DIR}/tools/kelvaron-regex.bash
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME kelvaron-regex)
endif()

# ---- CMake package ------------------------------------------------------------
install(EXPORT kelvaron-regex-targets
  NAMESPACE kelvaron-regex::
  FILE kelvaron-regex-targets.cmake
  DESTINATION ${KRX_CMAKE_DIR})
# A static library needs yyjson found by its users too.
if(BUILD_SHARED_LIBS)
  set(KRX_FIND_DEPENDENCIES "")
else()
  set(KRX_FIND_DEPENDENCIES "include(CMakeFindDependencyMacro)\nfind_dependency(yyjson CONFIG)")
endif()
configure_package_config_file(
  ${CMAKE_CURRENT_LIST_DIR}/kelvaron-regexConfig.cmake.in
  ${PROJECT_BINARY_DIR}/package/kelvaron-regexConfig.cmake
  INSTALL_DESTINATION ${KRX_CMAKE_DIR})
# 0.x releases keep the soname libkelvaron-regex.so.0, so any 0.y satisfies a
# request for 0.x with x <= y.
write_basic_package_version_file(
  ${PROJECT_BINARY_DIR}/package/kelvaron-regexConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/package/kelvaron-regexConfig.cmake
  ${PROJECT_BINARY_DIR}/package/kelvaron-regexConfigVersion.cmake
  DESTINATION ${KRX_CMAKE_DIR})

# ---- pkg-config (not for Windows, whose zip is unpacked anywhere) -------------
# Written at install time, so that its prefix is the one installed into
# (cmake --install --prefix P), not the one configured.
if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/KrxWindowsZip.cmake)
  return()
endif()
set(krx_pc_out ${PROJECT_BINARY_DIR}/package/kelvaron-regex.pc)
# A static library's users also link what it links: yyjson and the C++
# runtime (the libraries the C++ compiler adds that the C compiler does not).
set(KRX_PC_LIBS_PRIVATE "")
if(NOT BUILD_SHARED_LIBS)
  set(KRX_PC_LIBS_PRIVATE "-lyyjson")
  foreach(krx_lib IN LISTS CMAKE_CXX_IMPLICIT_LINK_LIBRARIES)
    if(NOT krx_lib IN_LIST CMAKE_C_IMPLICIT_LINK_LIBRARIES)
      string(APPEND KRX_PC_LIBS_PRIVATE " -l${krx_lib}")
    endif()
  endforeach()
endif()
install(CODE "
  set(KRX_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  set(KRX_PC_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
  set(KRX_PC_INCLUDEDIR \"${CMAKE_INSTALL_INCLUDEDIR}\")
  foreach(krx_var KRX_PC_LIBDIR KRX_PC_INCLUDEDIR)
    if(NOT IS_ABSOLUTE \"\${\${krx_var}}\")
      set(\${krx_var} \"\\\${prefix}/\${\${krx_var}}\")
    endif()
  endforeach()
  set(PROJECT_VERSION \"${PROJECT_VERSION}\")
  set(KRX_PC_LIBS_PRIVATE \"${KRX_PC_LIBS_PRIVATE}\")
  configure_file(\"${CMAKE_CURRENT_LIST_DIR}/kelvaron-regex.pc.in\" \"${krx_pc_out}\" @ONLY)
")
install(FILES ${krx_pc_out} DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

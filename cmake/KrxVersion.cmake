# Fails the configure step unless the version macros of the public header
# (KELVARON_REGEX_VERSION_MAJOR, _MINOR, _PATCH and _STRING) say the
# project's version. The header is written by hand, so a release that bumps
# project(VERSION) must bump the macros too; this check makes sure it does.
function(krx_check_header_version header)
  file(STRINGS "${header}" lines REGEX "^#define KELVARON_REGEX_VERSION_")
  foreach(part MAJOR MINOR PATCH STRING)
    set(value "")
    foreach(line IN LISTS lines)
      if(line MATCHES "^#define KELVARON_REGEX_VERSION_${part} +(.+)$")
        set(value "${CMAKE_MATCH_1}")
      endif()
    endforeach()
    if(part STREQUAL "STRING")
      set(want "\"${PROJECT_VERSION}\"")
    else()
      set(want "${PROJECT_VERSION_${part}}")
    endif()
    if(NOT value STREQUAL want)
      message(FATAL_ERROR "${header}: KELVARON_REGEX_VERSION_${part} is '${value}', "
                          "but the project's version says '${want}'")
    endif()
  endforeach()
endfunction()

# Compiler flags shared by every target of the project.
#   krx_flags      warnings as errors (and sanitizers when KRX_SANITIZE or
#                  KRX_TSAN is on)
#   krx_lib_flags  what the library itself is built with: no exceptions, no RTTI
add_library(krx_flags INTERFACE)
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  target_compile_options(krx_flags INTERFACE -Wall -Wextra -Werror)
  if(KRX_SANITIZE)
    target_compile_options(krx_flags INTERFACE
      -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    target_link_options(krx_flags INTERFACE -fsanitize=address,undefined)
  endif()
  if(KRX_TSAN)
    if(KRX_SANITIZE)
      message(FATAL_ERROR "KRX_TSAN and KRX_SANITIZE cannot be combined; use two build folders")
    endif()
    target_compile_options(krx_flags INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
    target_link_options(krx_flags INTERFACE -fsanitize=thread)
  endif()
endif()

add_library(krx_lib_flags INTERFACE)
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  target_compile_options(krx_lib_flags INTERFACE
    $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti>)
  # Per-thread variables of a shared library are reached through a call per
  # function; with TLS descriptors that call is a load when the loader has
  # room for them, as it usually has. (GCC has them on x86-64; clang 14
  # does not know the option.)
  include(CheckCXXCompilerFlag)
  if(NOT WIN32)
    check_cxx_compiler_flag(-mtls-dialect=gnu2 KRX_HAS_TLS_DESCRIPTORS)
    if(KRX_HAS_TLS_DESCRIPTORS)
      target_compile_options(krx_lib_flags INTERFACE -mtls-dialect=gnu2)
    endif()
  endif()
endif()

# Platform details of the shared library itself.
function(krx_configure_shared target)
  if(NOT WIN32 AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    # Nothing undefined may remain for the host to resolve.
    target_link_options(${target} PRIVATE -Wl,--no-undefined)
  endif()
endfunction()

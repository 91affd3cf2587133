# The WebAssembly build, cross-compiled with cmake/toolchain-emscripten.cmake
# and tested under Node. Included by the top-level CMakeLists.txt before the
# library's dependencies are looked up; it provides what a Linux build takes
# from the system:
#   - yyjson::yyjson, GTest::gtest and GTest::gtest_main, compiled from
#     source (cmake/KrxFromSource.cmake); GoogleTest without threads, as
#     the module has none;
#   - Node as CMAKE_CROSSCOMPILING_EMULATOR (emscripten's platform file
#     finds it), so that CTest and GoogleTest's test discovery run the
#     programs;
#   - krx_wasm_flags: the compile settings of everything built here.
# The library is compiled as a static library (emscripten has no shared
# ones); the module of the JS package (js/CMakeLists.txt) and the test
# programs (tests/wasm/CMakeLists.txt) link it.
if(NOT EMSCRIPTEN)
  return()
endif()

# ---- yyjson and GoogleTest ----------------------------------------------------
include(${CMAKE_CURRENT_LIST_DIR}/KrxFromSource.cmake)
krx_yyjson_from_source()
if(KRX_BUILD_TESTS)
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  krx_googletest_from_source()
endif()

if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  message(WARNING "Node not found: the WebAssembly programs build, but CTest cannot run them")
endif()

# ---- compile settings ---------------------------------------------------------
# The library's SSE2 searches become WebAssembly SIMD through emscripten's
# emmintrin.h, which needs 128-bit SIMD (Node 16.4+, Chrome 91+, Firefox
# 89+, Safari 16.4+).
set(KRX_WASM_SIMD ON CACHE BOOL "Compile with 128-bit WebAssembly SIMD (SSE2 searches)")
add_compile_options(-fno-exceptions)
if(KRX_WASM_SIMD)
  add_compile_options(-msimd128 -msse2)
endif()

# The platform layer's WebAssembly scans (src/rx_platform_wasm.cpp) join the
# library once its target exists.
function(krx_wasm_library_sources)
  if(TARGET kelvaron-regex AND KRX_WASM_SIMD)
    target_sources(kelvaron-regex PRIVATE ${PROJECT_SOURCE_DIR}/src/rx_platform_wasm.cpp)
  endif()
endfunction()
cmake_language(DEFER CALL krx_wasm_library_sources)

# The largest memory a module or program may grow to: 4 GiB, all that a
# 32-bit WebAssembly memory can address. A call over a 10 MiB text may
# answer with more than a gigabyte (one match per byte), and a call that
# finds no more memory fails with "out of memory", as everywhere.
set(KRX_WASM_MAXIMUM_MEMORY 4GB)
# The stack of the module and of every program: 1 MiB, the smallest stack
# the library promises to work on (the native suite runs such calls on
# threads of that stack size).
set(KRX_WASM_STACK 1048576)

# Cross toolchain for WebAssembly with Debian bookworm's emscripten 3.1.6
# (package emscripten: clang 14, lld 14, binaryen, Node).
#
#   cmake -S . -B build-wasm -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-emscripten.cmake
#
# The platform file is emscripten's own; this adds what Debian's packaging
# needs. emscripten's JavaScript optimizer, run at every link, loads acorn,
# which Debian installs in /usr/share/nodejs, outside Node's default search
# path: every link runs with NODE_PATH pointing there. The project's own
# WebAssembly settings (yyjson and GoogleTest from source, the test
# programs under Node, the module of js/) live in cmake/wasm-build.cmake.
set(KRX_EMSCRIPTEN_ROOT /usr/share/emscripten CACHE PATH "emscripten's installation")
include(${KRX_EMSCRIPTEN_ROOT}/cmake/Modules/Platform/Emscripten.cmake)

set(KRX_NODE_PATH /usr/share/nodejs CACHE PATH "Where Debian keeps acorn for emscripten's JS optimizer")
set(CMAKE_C_LINKER_LAUNCHER env NODE_PATH=${KRX_NODE_PATH})
set(CMAKE_CXX_LINKER_LAUNCHER env NODE_PATH=${KRX_NODE_PATH})

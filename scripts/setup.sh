#!/usr/bin/env bash
# Quick start, step one: installs everything the project needs on a fresh
# Debian bookworm machine (idempotent), builds the library and the
# command-line host in build/ (with the tester page, whose WebAssembly
# package is built in build-wasm/ first), and runs the host on an example of
# each export.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh --windows --wasm --web

cmake -S . -B build-wasm -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-emscripten.cmake
cmake --build build-wasm -j2 --target krx_js_package
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build -j2

cli=build/kelvaron-regex
run() {
  printf '\n$ kelvaron-regex'
  for arg in "$@"; do
    if [[ "$arg" =~ ^[A-Za-z0-9._/-]+$ ]]; then printf ' %s' "$arg"; else printf " '%s'" "$arg"; fi
  done
  printf '\n'
  "$cli" "$@"
}
echo
echo "Built build/libkelvaron-regex.so and build/kelvaron-regex. Examples:"
run validate 'a(b|c)+'
run validate 'a)'
run test 'a(b|c)' 'ab ac'
run test --human '(\w+)@(\w+)' 'mail ann@example or bob@test'
run replace 'a' 'o' 'banana'
run generate 2023-12-01 2024-01-15
run generate --human id-7.txt id-x-9.txt
echo
echo "The pattern tester: build/kelvaron-regex serve --open (or open the address it prints)"

#!/usr/bin/env bash
# Builds the library for WebAssembly with Debian's emscripten: the module
# and the npm package kelvaron-regex of js/, and the public test programs;
# with --test runs them under Node with CTest (the public suite, then the
# package's tarball installed with npm and its JS tests).
#
#   scripts/build-wasm.sh [--test] [--build-dir DIR] [--jobs N]
#
# The build directory defaults to build-wasm/ in the repository. The results
# land in DIR/js: the package folder kelvaron-regex/ (lib/kelvaron-regex.wasm
# beside the ES module) and its tarball kelvaron-regex-VERSION.tgz. yyjson's
# source is fetched into DIR/_deps on the first configure
# (scripts/fetch-yyjson-source.sh). The toolchain, Node and npm come from
# scripts/install-deps.sh --wasm. KRX_LONG=1 selects the long mode of the
# generated tests, as in the other builds.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)

NAME=build-wasm
# shellcheck source=scripts/build-common.sh
. "$repo/scripts/build-common.sh"
build_options "$repo/build-wasm" "$@"
need_tools "run scripts/install-deps.sh --wasm" emcc wasm-metadce node npm cmake ninja
start=$SECONDS

echo "== configure ($build_dir)"
cmake -S "$repo" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/toolchain-emscripten.cmake"
phase "configure"

echo "== build"
cmake --build "$build_dir" -j"$jobs"
phase "build"

version=$(sed -n 's/^project(kelvaron-regex VERSION \([0-9.]*\).*/\1/p' "$repo/CMakeLists.txt")
for file in js/kelvaron-regex/lib/kelvaron-regex.wasm js/kelvaron-regex/lib/index.js \
            "js/kelvaron-regex-$version.tgz"; do
  if [ ! -f "$build_dir/$file" ]; then
    echo "build-wasm: $file was not built" >&2
    exit 1
  fi
done
echo "build-wasm: built $build_dir/js/kelvaron-regex-$version.tgz" \
     "(kelvaron-regex.wasm: $(stat -c %s "$build_dir/js/kelvaron-regex/lib/kelvaron-regex.wasm") bytes)"

if [ "$run_tests" = 1 ]; then
  echo "== tests under Node"
  ctest --test-dir "$build_dir" --output-on-failure -j"$jobs"
  phase "tests"
fi
echo "build-wasm: done in $((SECONDS - start)) s"

#!/usr/bin/env bash
# Quick start, step two: runs the whole test suite.
#   0. the code style check (scripts/check-format.sh);
#   1. the WebAssembly module built with emscripten, its public suite run
#      under Node, and the npm package installed from its tarball and tested
#      with Node's test runner (scripts/build-wasm.sh); first, because the
#      tester page of the builds below carries that package;
#   2. a release build (build/), tested with CTest, the tester page in
#      Debian's chromium included (web_tester);
#   3. a build with AddressSanitizer and UndefinedBehaviorSanitizer
#      (build-asan/), tested with CTest; leaks are failures;
#   4. the Windows DLL cross-built with mingw-w64 and its suite run under
#      Wine (scripts/build-windows.sh);
#   5. the thread tests under ThreadSanitizer (scripts/tsan.sh, build-tsan/);
#   6. every fuzz target for a fixed time, 60 s each (scripts/fuzz.sh,
#      build-fuzz/; a failing input is left in build-fuzz/artifacts/).
# Set KRX_LONG=1 for the long mode of the generated tests (and hours of
# fuzzing).
# Installs missing dependencies first (a no-op when all are present).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh --windows --wasm --web
# The tester page's browser tests must run here: a missing browser or
# package is a failure, not a skipped test.
export KRX_WEB_TESTS_REQUIRED=1

jobs=2
echo "== code style"
scripts/check-format.sh

echo "== webassembly build under node"
scripts/build-wasm.sh --test

echo "== release build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DKRX_BUILD_BENCH=ON
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

echo "== sanitizer build"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKRX_SANITIZE=ON
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs"

if [ -x scripts/build-windows.sh ]; then
  echo "== windows build under wine"
  scripts/build-windows.sh --test
fi

echo "== thread sanitizer build"
scripts/tsan.sh

echo "== fuzzing"
scripts/fuzz.sh
echo "== all suites passed"

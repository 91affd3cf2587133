#!/usr/bin/env bash
# Builds the library and its thread tests with ThreadSanitizer in
# build-tsan/ and runs them: tests/public_threads.cpp (concurrent calls,
# held answers, small stacks) and tests/public_stress.cpp (threads x mixed
# calls of all five exports against single-threaded answers). Any data race
# report fails the run. KRX_LONG=1 runs both in their long mode.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build-tsan
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKRX_TSAN=ON >/dev/null
cmake --build "$build" -j2 --target public_threads public_stress

for program in public_threads public_stress; do
  echo "-- $program under ThreadSanitizer"
  TSAN_OPTIONS="halt_on_error=1 exitcode=66 second_deadlock_stack=1" \
    "$build/tests/$program" --gtest_brief=1
done

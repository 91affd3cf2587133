#!/usr/bin/env bash
# Builds the fuzz targets of tests/fuzz/ with clang (libFuzzer,
# AddressSanitizer, UndefinedBehaviorSanitizer) in build-fuzz/ and runs each
# one for a fixed time, one after the other:
#   60 s per target by default (CI), 2 hours per target with KRX_LONG=1;
#   KRX_FUZZ_SECONDS=N sets the time per target outright.
# Every input gets at most 5 s (-timeout): an input that crashes, fails a
# check, leaks or runs longer fails the run, and is left in
# build-fuzz/artifacts/<target>/ (crash-*, leak-*, timeout-*). Inputs the
# runs find are kept in build-fuzz/corpus/<target>/ for the next run; the
# committed seeds in tests/fuzz/corpus/ are only read.
# Reproduce one input:  build-fuzz/tests/fuzz/fuzz_<target> FILE
set -euo pipefail
cd "$(dirname "$0")/.."

cxx=""
for c in clang++ clang++-14; do
  if command -v "$c" >/dev/null; then cxx=$c; break; fi
done
if [ -z "$cxx" ]; then
  echo "fuzz: no clang++ found; run scripts/install-deps.sh" >&2
  exit 1
fi
cc=${cxx/clang++/clang}

if [ -n "${KRX_FUZZ_SECONDS:-}" ]; then
  seconds=$KRX_FUZZ_SECONDS
elif [ "${KRX_LONG:-0}" = 1 ]; then
  seconds=7200
else
  seconds=60
fi

build=build-fuzz
CC=$cc CXX=$cxx cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKRX_FUZZ=ON -DKRX_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2

# target and its longest input: patterns and texts of a few KiB, example
# lists up to 8 KiB, patterns of 1 KiB for the lint (each is judged by the
# reference matcher).
targets=(validate:4096 test:4096 replace:4096 generate:8192 generate_roundtrip:8192 lint:1024)
status=0
for entry in "${targets[@]}"; do
  name=${entry%%:*}
  max_len=${entry##*:}
  corpus=$build/corpus/$name
  artifacts=$build/artifacts/$name
  mkdir -p "$corpus" "$artifacts"
  echo "-- fuzz_$name: ${seconds} s"
  log=$build/fuzz_$name.log
  if UBSAN_OPTIONS=print_stacktrace=1 "$build/tests/fuzz/fuzz_$name" \
       -max_total_time="$seconds" -timeout=5 -max_len="$max_len" -rss_limit_mb=2048 \
       -print_final_stats=1 -artifact_prefix="$artifacts/" \
       "$corpus" "tests/fuzz/corpus/$name" >"$log" 2>&1; then
    grep -E '^stat::(number_of_executed_units|slowest_unit_time_sec|peak_rss_mb)' "$log" || true
  else
    status=1
    tail -n 40 "$log"
    echo "fuzz_$name FAILED; the input is in $artifacts/, the whole log in $log" >&2
  fi
done
exit "$status"

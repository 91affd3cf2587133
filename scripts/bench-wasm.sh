#!/usr/bin/env bash
# Times rx_test in WebAssembly under Node against the native library on the
# peers benchmark's corpus and rows, and the package's searchAll against V8's
# RegExp (js/bench/peers.js). Builds the native benchmark in build-bench/ and
# the WebAssembly package in build-wasm/ first.
#   scripts/bench-wasm.sh [--reps=N] [--size=BYTES] [FILE]
# Without FILE the text is bench_peers' built-in corpus (4 MiB); with it,
# the file's first BYTES as bench_peers reads it. Both sides time the same
# bytes, in one run of this script. Node runs with --no-liftoff, so that every
# function of the module is compiled by V8's optimizing compiler from the
# start: what a page gets once its first calls have warmed it up.
set -euo pipefail
cd "$(dirname "$0")/.."

reps=--reps=9
size=()
file=()
for arg in "$@"; do
  case "$arg" in
    --reps=*) reps=$arg ;;
    --size=*) size=("$arg") ;;
    --*) echo "bench-wasm: unknown option $arg" >&2; exit 2 ;;
    *) file=("$arg") ;;
  esac
done

cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DKRX_BUILD_BENCH=ON -DKRX_BUILD_TESTS=OFF > /dev/null
cmake --build build-bench -j2 --target bench_peers
if [ ! -d build-wasm ]; then scripts/build-wasm.sh; else cmake --build build-wasm -j2 --target krx_js_package; fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
build-bench/bench/bench_peers "${size[@]}" --write-corpus="$work/corpus" "${file[@]}"
build-bench/bench/bench_peers "$reps" --size="$(stat -c %s "$work/corpus")" "$work/corpus" > "$work/native.txt"
node --no-liftoff js/bench/peers.js build-wasm/js/kelvaron-regex "$work/corpus" "$work/native.txt" "$reps"

#!/usr/bin/env bash
# Builds the linear-work benchmark (bench/bench_linear.cpp) in build-bench/
# and runs it: rx_test on adversarial patterns over texts of 64 KiB to 8 MiB,
# each twice the one before (a time ratio of about 2 per doubling is linear
# work), then the slowest calls known over 10 MiB with their wall-clock time.
# Prints Markdown tables. The dictionary rows need wamerican.
#   scripts/bench-linear.sh [bench_linear options, e.g. --max=1m --reps=5 --row=Holmes --no-worst]
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DKRX_BUILD_BENCH=ON -DKRX_BUILD_TESTS=OFF >/dev/null
cmake --build build-bench -j2 --target bench_linear
exec build-bench/bench/bench_linear "$@"

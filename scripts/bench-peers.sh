#!/usr/bin/env bash
# Builds the peers benchmark (bench/bench_peers.cpp, needs libpcre2-dev) in
# build-bench/ and runs it twice: on real English text, Debian's changelogs
# under /usr/share/doc concatenated and unzipped (NUL bytes become spaces in
# the benchmark, which reads the first 4 MiB), and on its built-in corpus.
#   scripts/bench-peers.sh [bench_peers options, e.g. --size=1m --reps=9]
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DKRX_BUILD_BENCH=ON -DKRX_BUILD_TESTS=OFF >/dev/null
cmake --build build-bench -j2 --target bench_peers
bench=build-bench/bench/bench_peers
if [ ! -x "$bench" ]; then
  echo "bench-peers: bench_peers was not built (is libpcre2-dev installed? scripts/install-deps.sh)" >&2
  exit 1
fi

corpus=$(mktemp)
trap 'rm -f "$corpus"' EXIT
export LC_ALL=C # the same file order everywhere
for f in /usr/share/doc/*/changelog*; do
  [ -f "$f" ] || continue
  case "$f" in
    *.gz) zcat -f "$f" ;;
    *) cat "$f" ;;
  esac
done >"$corpus" 2>/dev/null || true
if [ -s "$corpus" ]; then
  "$bench" "$@" "$corpus"
else
  echo "bench-peers: no changelogs under /usr/share/doc; built-in corpus only"
fi
echo
"$bench" "$@"

#!/usr/bin/env bash
# kelvaron-regex grep over a 100 MiB file: the same count as grep -c, with
# memory that does not grow with the file (the host runs under an address-
# space limit well below the file's size).
#
#   bash tests/grep_large_test.sh PATH/TO/kelvaron-regex
#
# The file is made in a temporary folder from a deterministic mix of lines
# (some with "error", some with look-alikes) and ends without a line feed.
set -euo pipefail

if [ $# -ne 1 ] || [ ! -x "$1" ]; then
  echo "usage: $0 PATH/TO/kelvaron-regex" >&2
  exit 2
fi
cli=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
size=$((100 * 1024 * 1024))
limit_kib=$((48 * 1024))  # virtual memory for the host: under half the file

awk 'BEGIN {
  srand(11)
  split("alpha beta error gamma errors terror Error delta e.r.r.o.r ERROR x", w, " ")
  for (i = 0; i < 20000; i++) {
    n = int(rand() * 12); line = ""
    for (k = 0; k < n; k++) line = line (k ? " " : "") w[1 + int(rand() * 11)]
    print line
  }
}' >"$tmp/chunk.txt"
: >"$tmp/big.txt"
while [ "$(stat -c %s "$tmp/big.txt")" -lt "$size" ]; do cat "$tmp/chunk.txt" >>"$tmp/big.txt"; done
truncate -s "$size" "$tmp/big.txt"

want=$(LC_ALL=C grep -c error "$tmp/big.txt")
got=$( (ulimit -v "$limit_kib"; "$cli" grep -c error "$tmp/big.txt") ) ||
  { echo "grep_large_test: FAIL: kelvaron-regex grep -c failed under a ${limit_kib} KiB limit" >&2; exit 1; }
if [ "$got" != "$want" ]; then
  echo "grep_large_test: FAIL: kelvaron-regex grep -c error counted $got lines, grep -c $want" >&2
  exit 1
fi
echo "grep_large_test: $got lines of $size bytes counted, as grep -c counts"

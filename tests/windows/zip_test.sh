#!/usr/bin/env bash
# Unpacks the Windows zip of the build into a temporary folder, checks its
# list of files, and runs the command-line host from it under Wine.
#
#   bash tests/windows/zip_test.sh ZIP WINE_RUN
#
# WINE_RUN is the build's wrapper that runs a Windows program (wine-run.sh).
set -euo pipefail
if [ $# -ne 2 ]; then
  echo "usage: $0 ZIP WINE_RUN" >&2
  exit 2
fi
zip=$1 wine_run=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "zip_test: FAIL: $*" >&2; exit 1; }

[ -f "$zip" ] || fail "no zip at $zip"
(cd "$tmp" && cmake -E tar xf "$zip") || fail "cannot unpack $zip"
top="$tmp/$(basename "$zip" .zip)"
for f in bin/kelvaron-regex.dll bin/kelvaron-regex.def bin/kelvaron-regex.exe \
         lib/libkelvaron-regex.dll.a include/kelvaron_regex.h README.txt LICENSE \
         lib/cmake/kelvaron-regex/kelvaron-regexConfig.cmake \
         lib/cmake/kelvaron-regex/kelvaron-regexConfigVersion.cmake; do
  [ -f "$top/$f" ] || fail "the zip has no $f"
done
extra=$(cd "$top" && find . -type f | sed 's|^\./||' | grep -v -E \
  '^(bin/kelvaron-regex\.(dll|def|exe)|lib/libkelvaron-regex\.dll\.a|include/kelvaron_regex\.h|README\.txt|LICENSE|lib/cmake/kelvaron-regex/[^/]+\.cmake)$' || true)
[ -z "$extra" ] || fail "the zip holds more than it should: $extra"

# The host runs from the unpacked folder, with the DLL beside it.
out=$(cd "$top/bin" && "$wine_run" ./kelvaron-regex.exe test 'a(b|c)' 'ab' | tr -d '\r') ||
  fail "the unpacked kelvaron-regex.exe did not run"
want='{"matches":[{"start":0,"end":2,"text":"ab","groups":[{"index":1,"start":1,"end":2,"text":"b"}]}]}'
[ "$out" = "$want" ] || fail "the unpacked host answered '$out'"
status=0
(cd "$top/bin" && "$wine_run" ./kelvaron-regex.exe grep -c x - < /dev/null > "$tmp/grep.out") || status=$?
[ "$status" = 1 ] && [ "$(tr -d '\r' < "$tmp/grep.out")" = 0 ] ||
  fail "the unpacked host's grep -c answered '$(cat "$tmp/grep.out")' with status $status, wanted 0 and 1"
echo "zip_test: $(basename "$zip") unpacks, and its host runs"

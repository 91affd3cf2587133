#!/usr/bin/env bash
# Unpacks the Windows zip of the build into a temporary folder, checks its
# list of files, and runs the command-line host from it under Wine, its
# serve command included (the tester page from share/kelvaron-regex/web).
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
         lib/cmake/kelvaron-regex/kelvaron-regexConfigVersion.cmake \
         share/kelvaron-regex/web/index.html share/kelvaron-regex/web/kelvaron-regex/kelvaron-regex.wasm; do
  [ -f "$top/$f" ] || fail "the zip has no $f"
done
extra=$(cd "$top" && find . -type f | sed 's|^\./||' | grep -v -E \
  '^(bin/kelvaron-regex\.(dll|def|exe)|lib/libkelvaron-regex\.dll\.a|include/kelvaron_regex\.h|README\.txt|LICENSE|lib/cmake/kelvaron-regex/[^/]+\.cmake|share/kelvaron-regex/web/.+)$' || true)
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

# serve: the page from the unpacked folder, on 127.0.0.1 (raw requests
# through bash's /dev/tcp: the status line and the content type).
(cd "$top/bin" && exec "$wine_run" ./kelvaron-regex.exe serve --port 0 > "$tmp/serve.out" 2>&1) &
server=$!
trap 'kill "$server" 2> /dev/null; rm -rf "$tmp"' EXIT
port=""
for _ in $(seq 1 100); do
  port=$(sed -n 's|.*http://127\.0\.0\.1:\([0-9]*\)/.*|\1|p' "$tmp/serve.out")
  [ -n "$port" ] && break
  sleep 0.2
done
[ -n "$port" ] || fail "serve printed no address: $(cat "$tmp/serve.out")"
ask() {
  exec 3<> "/dev/tcp/127.0.0.1/$port"
  printf 'GET %s HTTP/1.0\r\nHost: 127.0.0.1:%s\r\n\r\n' "$1" "$port" >&3
  tr -d '\r' <&3 | grep -a -E '^(HTTP/|Content-Type:)' | tr '\n' ' '
  exec 3<&-
}
got=$(ask /)
[ "$got" = "HTTP/1.1 200 OK Content-Type: text/html; charset=utf-8 " ] || fail "serve answered / with '$got'"
got=$(ask /kelvaron-regex/kelvaron-regex.wasm)
[ "$got" = "HTTP/1.1 200 OK Content-Type: application/wasm " ] || fail "serve answered the module with '$got'"
got=$(ask /../README.txt)
[ "$got" = "HTTP/1.1 404 Not Found Content-Type: text/plain; charset=utf-8 " ] || fail "serve answered /../README.txt with '$got'"
echo "zip_test: $(basename "$zip") unpacks, its host runs, and serves the tester page"

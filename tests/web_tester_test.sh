#!/usr/bin/env bash
# The tester page in a real browser: web/tests/tester.test.mjs with Node's
# test runner, driving Debian's chromium through playwright-core (installed
# by scripts/install-deps.sh --web into web/tests/node_modules; no browser
# is ever downloaded) against `kelvaron-regex serve` of this build.
#
#   web_tester_test.sh NODE HOST REPO SCREENSHOTS
#
# Skipped (exit 77, with the reason) when the browser, playwright-core or
# the page's WebAssembly package is missing, unless KRX_WEB_TESTS_REQUIRED=1
# (scripts/test.sh), which makes that a failure.
set -euo pipefail
node=$1
host=$2
repo=$3
shots=$4
chromium=${KRX_CHROMIUM:-/usr/bin/chromium}

missing=""
[ -x "$chromium" ] || missing="no browser at $chromium (scripts/install-deps.sh --web installs Debian's chromium)"
[ -f "$repo/web/tests/node_modules/playwright-core/package.json" ] ||
  missing="no playwright-core in web/tests/node_modules (scripts/install-deps.sh --web)"
[ -f "$(dirname "$host")/web/kelvaron-regex/kelvaron-regex.wasm" ] ||
  missing="the page has no WebAssembly package (scripts/build-wasm.sh, then build this again)"
if [ -n "$missing" ]; then
  if [ "${KRX_WEB_TESTS_REQUIRED:-0}" = 1 ]; then
    echo "web_tester: $missing" >&2
    exit 1
  fi
  echo "skipped: $missing"
  exit 77
fi

mkdir -p "$shots"
cd "$repo/web/tests"
KRX_HOST=$host KRX_CHROMIUM=$chromium KRX_SCREENSHOTS=$shots "$node" --test --test-concurrency=1 tester.test.mjs
echo "web_tester: screenshots in $shots"

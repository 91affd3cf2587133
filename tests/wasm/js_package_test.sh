#!/usr/bin/env bash
# The npm package as a JS project gets it: installs the tarball that
# `npm pack` made into a temporary project with npm (offline: the package
# has no dependencies), runs the README's Node example there, which imports
# the package by its name, and runs the JS tests of js/test on that copy
# with Node's test runner.
#
#   js_package_test.sh NODE NPM TARBALL REPO VERSION
set -euo pipefail
node=$1
npm=$2
tarball=$3
repo=$4
version=$5

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
project=$work/project
mkdir -p "$project/test"
cd "$project"
printf '{"name":"krx-consumer","version":"1.0.0","private":true,"type":"module"}\n' > package.json
cp "$tarball" .
"$npm" install "./$(basename "$tarball")" --offline --no-audit --no-fund --cache "$work/npm-cache" \
  --loglevel=error
installed=$("$node" -p 'require("kelvaron-regex/package.json").version')
if [ "$installed" != "$version" ]; then
  echo "js_package: installed kelvaron-regex $installed, expected $version" >&2
  exit 1
fi

# The README's Node example: the first js block after "### In Node", and
# the output block that follows it.
awk '/^### In Node/ { on = 1 } on && /^```js$/ { code = 1; next } code && /^```$/ { exit } code' \
  "$repo/README.md" > example.js
awk '/^### In Node/ { on = 1 } on && /^```js$/ { seen = 1 } seen && /^```text$/ { out = 1; next }
     out && /^```$/ { exit } out' "$repo/README.md" > expected.txt
if [ ! -s example.js ] || [ ! -s expected.txt ]; then
  echo "js_package: the README has no Node example with its output under '### In Node'" >&2
  exit 1
fi
"$node" example.js > actual.txt
if ! diff -u expected.txt actual.txt; then
  echo "js_package: the README's Node example prints something else" >&2
  exit 1
fi
echo "js_package: kelvaron-regex $installed installed from $(basename "$tarball"); the README's example runs"

cp "$repo"/js/test/*.test.js test/
KRX_CASES_FILE=$repo/tests/cases/match_cases.json "$node" --test test/*.test.js

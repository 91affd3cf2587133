#!/usr/bin/env bash
# Compiles the C# wrapper bindings/csharp/KelvaronRegex.cs with a host of it
# (tests/hosts/KelvaronRegexHost.cs) using Mono's mcs, runs it with mono
# against the Linux shared library of the build, and checks that the C#
# block of README.md is that wrapper, byte for byte.
#
#   bash tests/csharp_test.sh MCS MONO SOURCE_DIR LIBRARY_DIR
set -euo pipefail
if [ $# -ne 4 ]; then
  echo "usage: $0 MCS MONO SOURCE_DIR LIBRARY_DIR" >&2
  exit 2
fi
mcs=$1 mono=$2 src=$3 libdir=$4
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

"$mcs" -warnaserror -out:"$tmp/host.exe" \
  "$src/bindings/csharp/KelvaronRegex.cs" "$src/tests/hosts/KelvaronRegexHost.cs"
LD_LIBRARY_PATH=$libdir${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH} "$mono" "$tmp/host.exe"

awk '/^```csharp$/ { on = 1; next } /^```$/ { if (on) exit } on' "$src/README.md" >"$tmp/readme.cs"
if ! cmp -s "$tmp/readme.cs" "$src/bindings/csharp/KelvaronRegex.cs"; then
  echo "csharp_test: FAIL: the C# block of README.md differs from bindings/csharp/KelvaronRegex.cs:" >&2
  diff "$src/bindings/csharp/KelvaronRegex.cs" "$tmp/readme.cs" >&2 || true
  exit 1
fi
echo "csharp_test: the README's wrapper compiles, runs and answers as wanted"

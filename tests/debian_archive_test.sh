#!/usr/bin/env bash
# Checks krx_debian_archive (scripts/debian-archive.sh), which finds the
# Debian archive of the machine's apt sources for the private source lists
# of scripts/install-deps.sh and scripts/fetch-yyjson-source.sh. Each case
# writes an /etc/apt tree under a temporary root and compares the address
# found (or the failure) with the one wanted.
#
#   bash tests/debian_archive_test.sh SOURCE_DIR
set -u
if [ $# -ne 1 ]; then
  echo "usage: $0 SOURCE_DIR" >&2
  exit 2
fi
. "$1/scripts/debian-archive.sh"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cases=0 failures=0

# check NAME WANT [FILE CONTENT]...   (WANT "!" means: must fail)
check() {
  local name=$1 want=$2
  shift 2
  cases=$((cases + 1))
  rm -rf "$tmp/root"
  mkdir -p "$tmp/root/etc/apt/sources.list.d"
  printf 'ID=debian\nVERSION_CODENAME=bookworm\n' >"$tmp/root/etc/os-release"
  while [ $# -ge 2 ]; do
    printf '%b' "$2" >"$tmp/root/$1"
    shift 2
  done
  local got rc
  got=$(KRX_APT_ROOT=$tmp/root krx_debian_archive 2>/dev/null)
  rc=$?
  if [ "$want" = "!" ]; then
    [ "$rc" -ne 0 ] && return
  elif [ "$rc" -eq 0 ] && [ "$got" = "$want" ]; then
    return
  fi
  failures=$((failures + 1))
  echo "FAIL: $name: got '$got' (status $rc), wanted '$want'" >&2
}

s=etc/apt/sources.list.d/debian.sources
check "deb822 entry of the release" http://deb.debian.org/debian \
  "$s" 'Types: deb\nURIs: http://deb.debian.org/debian\nSuites: bookworm bookworm-updates\nComponents: main\n\nTypes: deb\nURIs: http://deb.debian.org/debian-security\nSuites: bookworm-security\n'
check "a mirror, trailing slash dropped" http://mirror.example.org/debian \
  "$s" '# a comment\nTypes: deb deb-src\nURIs: http://mirror.example.org/debian/\nSuites: bookworm\n'
check "the security entry alone is not the archive" '!' \
  "$s" 'Types: deb\nURIs: http://security.example/debian-security\nSuites: bookworm-security\n'
check "a disabled entry is skipped" http://second/debian \
  "$s" 'Types: deb\nEnabled: no\nURIs: http://first/debian\nSuites: bookworm\n\nTypes: deb\nURIs: http://second/debian http://third/debian\nSuites: bookworm\n'
check "deb-src only is not taken" '!' \
  "$s" 'Types: deb-src\nURIs: http://src/debian\nSuites: bookworm\n'
check "sources.list with options" http://old.example/debian \
  etc/apt/sources.list '# deb http://commented/debian bookworm main\ndeb http://sec/ bookworm-security main\ndeb [arch=amd64 signed-by=/k.gpg] http://old.example/debian bookworm main\n'
check "deb822 before sources.list" http://new/debian \
  etc/apt/sources.list 'deb http://old/debian bookworm main\n' "$s" 'Types: deb\nURIs: http://new/debian\nSuites: bookworm\n'
check "another release's entry is not taken" '!' \
  etc/apt/sources.list 'deb http://old/debian bullseye main\n'
check "no sources at all" '!'

echo "debian_archive_test: $((cases - failures)) of $cases cases passed"
[ "$failures" -eq 0 ]

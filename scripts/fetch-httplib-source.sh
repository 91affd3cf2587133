#!/usr/bin/env bash
# Fetches the source of cpp-httplib for the Windows build of the
# command-line host's serve command. Debian's libcpp-httplib-dev, which the
# Linux build uses, splits the library into a header and a shared library
# for Linux; upstream's own httplib.h, which the source package holds, is
# the whole library in one header, and builds with the cross compiler.
#
#   scripts/fetch-httplib-source.sh DEST
#
# Takes the version of the installed libcpp-httplib-dev (the newest the
# release lists when that one is not installed or not listed), unpacks its orig tarball into
# DEST/source with Debian's patches of that version applied (the security
# fixes of bookworm's updates), and prints that path as the last line of
# its output. Once DEST/source holds that version, it is reused without
# touching the network. The files come through a private deb-src list and
# apt state folder under DEST (scripts/debian-archive.sh); apt's download
# helper checks each against the SHA256 that apt's signed indices name.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=scripts/debian-archive.sh
. "$here/debian-archive.sh"

if [ "$#" -ne 1 ]; then
  echo "usage: $0 DEST" >&2
  exit 2
fi
dest=$(mkdir -p "$1" && cd "$1" && pwd)
src="$dest/source"
stamp="$src/.krx-httplib-version"
want=$(dpkg-query -W -f='${Version}' libcpp-httplib-dev 2>/dev/null || true)

if [ -f "$stamp" ] && [ -f "$src/httplib.h" ] && { [ -z "$want" ] || [ "$(cat "$stamp")" = "$want" ]; }; then
  echo "fetch-httplib-source: reusing cpp-httplib $(cat "$stamp")" >&2
  echo "$src"
  exit 0
fi

archive=$(krx_debian_archive) || { echo "fetch-httplib-source: cannot find the Debian archive" >&2; exit 1; }
codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
state="$dest/apt"
echo "fetch-httplib-source: reading Debian's source lists" >&2
krx_private_apt "$state" "deb-src $archive $codename main"
newest=$(apt-cache "${krx_apt_opts[@]}" showsrc cpp-httplib 2>/dev/null | awk '/^Version:/ { print $2 }' |
         sort -V -r | head -n 1)
if [ -z "$want" ] || ! apt-cache "${krx_apt_opts[@]}" showsrc "cpp-httplib=$want" > /dev/null 2>&1; then
  want=$newest
fi
orig=$(krx_fetch_source_file "$state" "cpp-httplib=$want" '\.orig\.tar\.[a-z0-9]+') ||
  { echo "fetch-httplib-source: no source of cpp-httplib $want" >&2; exit 1; }
debian=$(krx_fetch_source_file "$state" "cpp-httplib=$want" '\.debian\.tar\.[a-z0-9]+') ||
  { echo "fetch-httplib-source: no Debian patches of cpp-httplib $want" >&2; exit 1; }
rm -rf "$src"
mkdir -p "$src"
tar -xf "$orig" -C "$src" --strip-components=1
tar -xf "$debian" -C "$src"
if [ -f "$src/debian/patches/series" ]; then
  while read -r patch _; do
    case "$patch" in ''|'#'*) continue ;; esac
    patch -d "$src" -p1 --quiet < "$src/debian/patches/$patch"
  done < "$src/debian/patches/series"
fi
if [ ! -f "$src/httplib.h" ]; then
  echo "fetch-httplib-source: cpp-httplib $want has no httplib.h" >&2
  rm -rf "$src"
  exit 1
fi
echo "$want" > "$stamp"
echo "fetch-httplib-source: using cpp-httplib $want" >&2
echo "$src"

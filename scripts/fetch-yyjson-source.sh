#!/usr/bin/env bash
# Fetches the source of yyjson for the Windows build, which compiles it into
# the DLL with the cross compiler (the Linux build uses the system's
# libyyjson-dev instead).
#
#   scripts/fetch-yyjson-source.sh DEST
#
# Unpacks the upstream source into DEST/source and prints that path as the
# last line of its output. Once DEST/source holds a source, it is reused
# without touching the network.
#
# The source comes from Debian's source packages, found through a private
# deb-src list and apt state folder under DEST (the system's apt sources are
# never touched); the list uses the archive address of the machine's own apt
# sources (scripts/debian-archive.sh). Every version that Debian's sid and
# trixie list is tried, newest first, from 0.10 up: apt names the orig
# tarball's address and SHA256, apt's own download helper fetches that one
# file and checks the checksum, and the file is checked once more here
# before it is unpacked.
# (Debian's archive does not serve every listed tarball; a version whose
# tarball is missing is skipped. The Debian patch archive is not needed:
# the orig tarball alone is upstream's source.)
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
stamp="$src/.krx-yyjson-version"

if [ -f "$stamp" ] && [ -f "$src/src/yyjson.c" ] && [ -f "$src/src/yyjson.h" ]; then
  echo "fetch-yyjson-source: reusing yyjson $(cat "$stamp")" >&2
  echo "$src"
  exit 0
fi

archive=$(krx_debian_archive) || { echo "fetch-yyjson-source: cannot find the Debian archive" >&2; exit 1; }
state="$dest/apt"
echo "fetch-yyjson-source: reading Debian's source lists" >&2
krx_private_apt "$state" "deb-src $archive sid main" "deb-src $archive trixie main"

# Listed versions, newest first, 0.10 and later only (the library relies on
# the four-argument yyjson_alc realloc and yyjson_read_opts of 0.10+).
mapfile -t versions < <(apt-cache "${krx_apt_opts[@]}" showsrc yyjson 2>/dev/null |
  awk '/^Version:/ { print $2 }' | sort -V -r -u)

for version in "${versions[@]}"; do
  if dpkg --compare-versions "$version" lt 0.10; then continue; fi
  echo "fetch-yyjson-source: trying yyjson $version" >&2
  if ! file=$(krx_fetch_source_file "$state" "yyjson=$version" '\.orig\.tar\.[a-z0-9]+'); then
    continue
  fi
  sha256=$(sha256sum "$file" | awk '{ print $1 }')
  rm -rf "$src"
  mkdir -p "$src"
  tar -xf "$file" -C "$src" --strip-components=1
  if [ ! -f "$src/src/yyjson.c" ] || [ ! -f "$src/src/yyjson.h" ]; then
    echo "fetch-yyjson-source: yyjson $version: $(basename "$file") has no src/yyjson.c" >&2
    rm -rf "$src"
    continue
  fi
  echo "$version" > "$stamp"
  echo "fetch-yyjson-source: using yyjson $version, SHA256 $sha256" >&2
  echo "$src"
  exit 0
done

echo "fetch-yyjson-source: no yyjson source of version 0.10 or later could be had" >&2
exit 1

#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what a host gets:
# the versioned library and its links, the header, the command-line host,
# its manual page and bash completion, the licence, and a tiny C consumer
# built through find_package(kelvaron-regex) and through pkg-config, each
# run against the installed library, and once more with the source tree
# added by add_subdirectory. Then the source tree is built and installed
# once more as a static library (BUILD_SHARED_LIBS=OFF), and the consumer
# is built against it through find_package and pkg-config --static.
#
#   bash tests/install/install_test.sh BUILD_DIR VERSION C_COMPILER
#
# Exit status 0 when everything holds, 1 otherwise.
set -euo pipefail

if [ $# -ne 3 ]; then
  echo "usage: $0 BUILD_DIR VERSION C_COMPILER" >&2
  exit 2
fi
build=$1 version=$2 cc=$3
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix
major=${version%%.*}

fail() { echo "install_test: FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" > "$tmp/install.log" ||
  { cat "$tmp/install.log" >&2; fail "cmake --install"; }

# The library's files and links, the header, the host.
lib=$(dirname "$(find "$prefix" -name "libkelvaron-regex.so.$version" | head -n 1)")
[ -n "$lib" ] && [ -f "$lib/libkelvaron-regex.so.$version" ] || fail "no libkelvaron-regex.so.$version"
[ "$(readlink "$lib/libkelvaron-regex.so.$major")" = "libkelvaron-regex.so.$version" ] ||
  fail "libkelvaron-regex.so.$major does not point to libkelvaron-regex.so.$version"
[ "$(readlink "$lib/libkelvaron-regex.so")" = "libkelvaron-regex.so.$major" ] ||
  fail "libkelvaron-regex.so does not point to libkelvaron-regex.so.$major"
soname=$(objdump -p "$lib/libkelvaron-regex.so.$version" | awk '$1 == "SONAME" { print $2 }')
[ "$soname" = "libkelvaron-regex.so.$major" ] || fail "soname is '$soname'"
[ -f "$prefix/include/kelvaron_regex.h" ] || fail "no include/kelvaron_regex.h"
out=$("$prefix/bin/kelvaron-regex" validate 'a(b|c)+') || fail "the installed host does not run"
[ "$out" = '{"ok":true}' ] || fail "the installed host answered '$out'"
cmp -s "$prefix/share/doc/kelvaron-regex/LICENSE" "$here/../../LICENSE" || fail "no share/doc/kelvaron-regex/LICENSE"
man1=$prefix/share/man/man1/kelvaron-regex.1
grep -q "^\.TH KELVARON-REGEX 1 .*kelvaron-regex $version" "$man1" 2>/dev/null ||
  fail "no share/man/man1/kelvaron-regex.1 of version $version"
completion=$prefix/share/bash-completion/completions/kelvaron-regex
bash -n "$completion" 2>/dev/null && grep -q 'complete .*kelvaron-regex' "$completion" ||
  fail "no bash completion in share/bash-completion/completions/kelvaron-regex"

# 1. find_package(kelvaron-regex CONFIG), from a clean environment.
cmake -S "$here" -B "$tmp/cmake-consumer" -DCMAKE_C_COMPILER="$cc" \
      -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release > "$tmp/consumer.log" 2>&1 &&
  cmake --build "$tmp/cmake-consumer" >> "$tmp/consumer.log" 2>&1 ||
  { cat "$tmp/consumer.log" >&2; fail "the find_package consumer does not build"; }
out=$("$tmp/cmake-consumer/consumer") || fail "the find_package consumer failed"
[ "$out" = "$version" ] || fail "the find_package consumer saw version '$out', wanted $version"
# (ldd's output is read whole first: with pipefail, grep -q leaving early
# can kill ldd with SIGPIPE and fail the pipeline although the line is there)
loaded=$(ldd "$tmp/cmake-consumer/consumer")
grep -q "$lib/libkelvaron-regex.so.$major" <<<"$loaded" ||
  fail "the find_package consumer did not load $lib/libkelvaron-regex.so.$major"

# 2. add_subdirectory of the source tree (only the library and its host are
#    built there).
cmake -S "$here" -B "$tmp/subdir-consumer" -G Ninja -DCMAKE_C_COMPILER="$cc" \
      -DKRX_SOURCE_DIR="$here/../.." -DCMAKE_BUILD_TYPE=Release > "$tmp/subdir.log" 2>&1 &&
  cmake --build "$tmp/subdir-consumer" -j2 --target consumer >> "$tmp/subdir.log" 2>&1 ||
  { cat "$tmp/subdir.log" >&2; fail "the add_subdirectory consumer does not build"; }
out=$("$tmp/subdir-consumer/consumer") || fail "the add_subdirectory consumer failed"
[ "$out" = "$version" ] || fail "the add_subdirectory consumer saw version '$out', wanted $version"

# 3. pkg-config --cflags --libs kelvaron-regex.
pcdir=$(dirname "$(find "$prefix" -name kelvaron-regex.pc | head -n 1)")
export PKG_CONFIG_PATH=$pcdir PKG_CONFIG_LIBDIR=$pcdir
[ "$(pkg-config --modversion kelvaron-regex)" = "$version" ] || fail "pkg-config --modversion"
# shellcheck disable=SC2046 # the flags are words
"$cc" -Wall -Wextra -Werror -o "$tmp/pc-consumer" "$here/consumer.c" $(pkg-config --cflags --libs kelvaron-regex) \
      -Wl,-rpath,"$(pkg-config --variable=libdir kelvaron-regex)" ||
  fail "the pkg-config consumer does not build"
out=$("$tmp/pc-consumer") || fail "the pkg-config consumer failed"
[ "$out" = "$version" ] || fail "the pkg-config consumer saw version '$out', wanted $version"
# It must have run against the installed library, not the build's.
loaded=$(ldd "$tmp/pc-consumer")
grep -q "$lib/libkelvaron-regex.so.$major" <<<"$loaded" ||
  fail "the pkg-config consumer did not load $lib/libkelvaron-regex.so.$major"

# 4. A static library (BUILD_SHARED_LIBS=OFF), installed into a prefix of its
#    own: its consumers carry it in themselves.
static=$tmp/static-prefix
unset PKG_CONFIG_PATH PKG_CONFIG_LIBDIR # the build finds its own dependencies (yyjson, cpp-httplib)
cmake -S "$here/../.." -B "$tmp/static-build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF \
      -DKRX_BUILD_TESTS=OFF -DCMAKE_C_COMPILER="$cc" > "$tmp/static.log" 2>&1 &&
  cmake --build "$tmp/static-build" -j2 >> "$tmp/static.log" 2>&1 &&
  cmake --install "$tmp/static-build" --prefix "$static" >> "$tmp/static.log" 2>&1 ||
  { tail -n 30 "$tmp/static.log" >&2; fail "the static library does not build and install"; }
[ -n "$(find "$static" -name libkelvaron-regex.a)" ] || fail "no libkelvaron-regex.a"
[ -z "$(find "$static" -name 'libkelvaron-regex.so*')" ] || fail "the static build installed a shared library"
cmake -S "$here" -B "$tmp/static-cmake-consumer" -DCMAKE_C_COMPILER="$cc" \
      -DCMAKE_PREFIX_PATH="$static" -DCMAKE_BUILD_TYPE=Release > "$tmp/static-consumer.log" 2>&1 &&
  cmake --build "$tmp/static-cmake-consumer" >> "$tmp/static-consumer.log" 2>&1 ||
  { cat "$tmp/static-consumer.log" >&2; fail "the static find_package consumer does not build"; }
pcdir=$(dirname "$(find "$static" -name kelvaron-regex.pc | head -n 1)")
export PKG_CONFIG_PATH=$pcdir PKG_CONFIG_LIBDIR=$pcdir
libs=$(pkg-config --static --libs kelvaron-regex)
for want in -lkelvaron-regex -lyyjson -lstdc++; do
  case " $libs " in *" $want "*) ;; *) fail "pkg-config --static gives '$libs', without $want" ;; esac
done
# shellcheck disable=SC2046 # the flags are words
"$cc" -Wall -Wextra -Werror -o "$tmp/static-pc-consumer" "$here/consumer.c" \
      $(pkg-config --cflags kelvaron-regex) $libs || fail "the static pkg-config consumer does not build"
for consumer in "$tmp/static-cmake-consumer/consumer" "$tmp/static-pc-consumer"; do
  out=$("$consumer") || fail "$consumer failed"
  [ "$out" = "$version" ] || fail "$consumer saw version '$out', wanted $version"
  loaded=$(ldd "$consumer")
  ! grep -q libkelvaron-regex <<<"$loaded" || fail "$consumer loads a shared kelvaron-regex"
done

echo "install_test: version $version installed with its licence, manual page and completion; the find_package," \
     "add_subdirectory and pkg-config consumers ran, and the static library's"

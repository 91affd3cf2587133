#!/usr/bin/env bash
# Builds kelvaron-regex.dll for 64-bit Windows with the mingw-w64 cross
# compiler, together with the command-line host kelvaron-regex.exe, the test
# suite and the C host of tests/windows/, and with --test runs the suite
# under Wine with CTest.
#
#   scripts/build-windows.sh [--test] [--build-dir DIR] [--jobs N]
#
# The build directory defaults to build-win/ in the repository. The results
# land in DIR/bin (kelvaron-regex.dll, kelvaron-regex.def, kelvaron-regex.exe
# and the test programs) and DIR/lib (the import library
# libkelvaron-regex.dll.a), and DIR/kelvaron-regex-VERSION-win64.zip packs
# them for hosts (cmake/KrxWindowsZip.cmake). yyjson's source is fetched
# into DIR/_deps on the first configure (scripts/fetch-yyjson-source.sh).
# The toolchain and Wine come from scripts/install-deps.sh --windows.
# KRX_LONG=1 selects the long mode of the generated tests, as in the Linux
# builds.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)

NAME=build-windows
# shellcheck source=scripts/build-common.sh
. "$repo/scripts/build-common.sh"
build_options "$repo/build-win" "$@"
need_tools "run scripts/install-deps.sh --windows" x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-objdump cmake ninja
start=$SECONDS

echo "== configure ($build_dir)"
cmake -S "$repo" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/toolchain-mingw-w64-x86_64.cmake"
phase "configure"

# The test programs are run once while they are built (GoogleTest's test
# discovery), so Wine must be ready before the build. The configure step
# wrote the wrapper that runs a program under Wine in the build's own prefix.
wine_run="$build_dir/wine-run.sh"
wineserver=""
if [ -x "$wine_run" ]; then
  prefix=$(sed -n 's/^WINEPREFIX="${KRX_WINEPREFIX:-\(.*\)}"$/\1/p' "$wine_run")
  prefix=${KRX_WINEPREFIX:-$prefix}
  for candidate in /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver wineserver; do
    if command -v "$candidate" > /dev/null; then wineserver=$(command -v "$candidate"); break; fi
  done
  mkdir -p "$prefix"
  if [ -n "$wineserver" ]; then
    # One Wine server for the whole run instead of one per program; it is
    # stopped when this script ends, however it ends.
    WINEPREFIX=$prefix "$wineserver" --persistent || true
    trap 'WINEPREFIX="$prefix" "$wineserver" --kill 2> /dev/null || true' EXIT
  fi
  # Booting the prefix starts Wine's own background processes (services,
  # explorer, ...). They keep the standard output they were started with
  # as long as the server runs, so they are started here, writing to a log
  # file: started by a test program instead, they would hold the pipe that
  # CTest or the test discovery reads, and the program would seem never
  # to end. The first boot also creates the prefix; Wine then notes the
  # missing 32-bit half, which is expected.
  boot=(wineboot)
  if [ ! -f "$prefix/system.reg" ]; then
    echo "== creating the Wine prefix $prefix"
    boot=(wineboot --init)
  fi
  if ! "$wine_run" "${boot[@]}" < /dev/null > "$build_dir/wine-boot.log" 2>&1; then
    cat "$build_dir/wine-boot.log" >&2
    echo "build-windows: Wine could not start its prefix $prefix" >&2
    exit 1
  fi
  phase "Wine start"
elif [ "$run_tests" = 1 ]; then
  echo "build-windows: Wine is missing; run scripts/install-deps.sh --windows" >&2
  exit 1
fi

echo "== build"
cmake --build "$build_dir" -j"$jobs"
phase "build"

for file in bin/kelvaron-regex.dll bin/kelvaron-regex.def bin/kelvaron-regex.exe \
            lib/libkelvaron-regex.dll.a; do
  if [ ! -f "$build_dir/$file" ]; then
    echo "build-windows: $file was not built" >&2
    exit 1
  fi
done
zips=("$build_dir"/kelvaron-regex-*-win64.zip)
if [ ! -f "${zips[0]}" ]; then
  echo "build-windows: the zip kelvaron-regex-VERSION-win64.zip was not made" >&2
  exit 1
fi
echo "build-windows: built $build_dir/bin/kelvaron-regex.dll and ${zips[0]}"

if [ "$run_tests" = 1 ]; then
  echo "== tests under Wine"
  ctest --test-dir "$build_dir" --output-on-failure -j"$jobs"
  phase "tests"
fi
echo "build-windows: done in $((SECONDS - start)) s"

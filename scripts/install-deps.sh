#!/usr/bin/env bash
# Installs everything the project needs on a fresh Debian bookworm machine.
# Idempotent: packages already present are left alone.
#
#   scripts/install-deps.sh            build and test dependencies
#   scripts/install-deps.sh --windows  also the mingw-w64 cross toolchain and Wine
#   scripts/install-deps.sh --wasm     also emscripten, binaryen, Node and npm
#                                      (the WebAssembly build and the npm package)
#   scripts/install-deps.sh --bench    also ripgrep, which bench/bench_grep.sh
#                                      times beside GNU grep when it is there
#   scripts/install-deps.sh --web      also Debian's chromium, and playwright-core
#                                      from npm into web/tests/node_modules (the
#                                      tester page's browser tests; no browser is
#                                      downloaded)
#
# Needs root (or sudo) on Debian bookworm. Installs the build tools, CMake,
# GoogleTest and Google Benchmark, pkg-config, Python 3 with pytest, pip and
# venv (the Python package's wheel tests), Mono's C# compiler and runtime
# (the C# host's test), clang-format 14 (the style check), gettext and
# wamerican (the peers benchmark's translated corpora and dictionary words),
# cpp-httplib (the host's serve command), with --windows mingw-w64 and Wine,
# and with --wasm Debian's emscripten 3.1.6 (with binaryen and acorn),
# Node.js and npm when they are missing.
#
# yyjson 0.12 is not in bookworm. Its two binary packages are taken from
# Debian's sid (unstable) through a private source list and state folder, so
# the system's apt sources are never touched (adding sid there would upgrade
# the C library). They need nothing newer than bookworm's libc. The private
# list uses the archive address of the machine's own apt sources
# (scripts/debian-archive.sh), so a machine set up for a mirror uses it.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=scripts/debian-archive.sh
. "$here/debian-archive.sh"

want_windows=0
want_wasm=0
want_bench=0
want_web=0
for arg in "$@"; do
  case "$arg" in
    --windows) want_windows=1 ;;
    --wasm) want_wasm=1 ;;
    --bench) want_bench=1 ;;
    --web) want_web=1 ;;
    *) echo "install-deps: unknown option $arg" >&2; exit 2 ;;
  esac
done

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

missing=()
need() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed" || missing+=("$1"); }

for p in build-essential cmake ninja-build pkg-config libgtest-dev libgmock-dev \
         googletest libbenchmark-dev libpcre2-dev binutils python3 ca-certificates \
         python3-pytest python3-pip python3-venv \
         mono-mcs mono-runtime clang-14 libclang-rt-14-dev clang-format-14 gettext wamerican \
         libcpp-httplib-dev; do
  need "$p"
done
if [ "$want_windows" = 1 ]; then
  for p in g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 \
           mingw-w64-x86-64-dev wine64 xz-utils; do
    need "$p"
  done
fi

# WebAssembly: Debian's emscripten (it brings binaryen, acorn and clang 14).
# Node.js and npm only when their commands are missing, so that a newer Node
# already on the machine is kept.
if [ "$want_wasm" = 1 ]; then
  need emscripten
fi
if [ "$want_wasm" = 1 ] || [ "$want_web" = 1 ]; then
  command -v node > /dev/null || need nodejs
  command -v npm > /dev/null || need npm
fi
if [ "$want_bench" = 1 ]; then need ripgrep; fi

# The tester's browser tests: Debian's own chromium, never a browser that a
# test tool would download.
if [ "$want_web" = 1 ]; then
  need chromium
fi

apt_updated=0
if [ "${#missing[@]}" -gt 0 ]; then
  $SUDO apt-get update -qq
  apt_updated=1
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# yyjson 0.12 from sid, privately.
yyjson_ok() {
  dpkg-query -W -f='${Status} ${Version}\n' libyyjson-dev 2>/dev/null | grep -q "install ok installed 0\.1[2-9]"
}
if ! yyjson_ok; then
  archive=$(krx_debian_archive) || { echo "install-deps: cannot find the Debian archive" >&2; exit 1; }
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  mkdir -p "$work/sources" "$work/lists/partial" "$work/cache/archives/partial" "$work/debs"
  echo "deb $archive sid main" > "$work/sources/sid.list"
  opts=(-o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$work/sources"
        -o Dir::State::Lists="$work/lists" -o Dir::Cache="$work/cache"
        -o Dir::State::Status=/var/lib/dpkg/status -o APT::Get::List-Cleanup=0)
  apt-get "${opts[@]}" update -qq
  (cd "$work/debs" && apt-get "${opts[@]}" download libyyjson0 libyyjson-dev)
  $SUDO dpkg -i "$work/debs"/*.deb
  rm -rf "$work"
  trap - EXIT
fi
# playwright-core at the version web/tests/package-lock.json pins, with npm
# ci (the lock's integrity hashes checked); skipped when that version is in
# place. It downloads no browser (the tests launch /usr/bin/chromium).
if [ "$want_web" = 1 ]; then
  tests_dir=$(cd "$here/../web/tests" && pwd)
  wanted=$(node -p "require('$tests_dir/package-lock.json').packages['node_modules/playwright-core'].version")
  present=$(node -p "try { require('$tests_dir/node_modules/playwright-core/package.json').version } catch { '' }")
  if [ "$wanted" != "$present" ]; then
    PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --prefix "$tests_dir" --no-audit --no-fund --loglevel=error
  fi
fi
echo "install-deps: dependencies are in place"

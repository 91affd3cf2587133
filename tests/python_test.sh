#!/usr/bin/env bash
# The Python package as its users get it: builds the wheel from the library of
# this build (python/build_backend.py), installs it offline into a fresh
# virtual environment of Debian's interpreter and runs the pytest tests there
# (python/tests), then installs it into a fresh environment of every other
# CPython 3.8 or later the machine has (pyenv's) and runs the
# re-compatibility table there (those have no pytest). Also builds the wheel
# through the PEP 517 backend with pip, isolated and offline, which must give
# the same bytes.
#
#   bash tests/python_test.sh PYTHON SOURCE_DIR LIBRARY VERSION
#
# PYTHON is Debian's interpreter (/usr/bin/python3), whose pytest the first
# environment sees. pytest's exit status is passed on: 5 ("no tests
# collected") fails like any other non-zero status.
set -euo pipefail

if [ $# -ne 4 ]; then
  echo "usage: $0 PYTHON SOURCE_DIR LIBRARY VERSION" >&2
  exit 2
fi
python=$1 src=$2 lib=$3 version=$4
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export PIP_NO_INDEX=1 PIP_DISABLE_PIP_VERSION_CHECK=1 PIP_NO_CACHE_DIR=1 PYTHONDONTWRITEBYTECODE=1
unset KELVARON_REGEX_LIBRARY

wheel=$("$python" "$src/python/build_backend.py" --library "$lib" --out "$tmp/dist")
echo "python_test: built $(basename "$wheel")"

"$python" -m pip wheel --quiet --no-deps --config-settings "library=$lib" -w "$tmp/pep517" "$src/python"
if ! cmp -s "$wheel" "$tmp/pep517/$(basename "$wheel")"; then
  echo "python_test: FAIL: pip's build through the backend differs from build_backend.py's wheel" >&2
  exit 1
fi

# install PYTHON VENV [venv options]: a fresh environment with the wheel in it.
install() {
  local interpreter=$1 venv=$2
  shift 2
  "$interpreter" -m venv "$@" "$venv"
  "$venv/bin/python" -m pip install --quiet --no-deps "$wheel"
  "$venv/bin/python" -c '
import importlib.metadata as m, os, sys
import kelvaron_regex as kr
inside = os.path.dirname(kr.__file__)
assert kr.__file__.startswith(sys.prefix), kr.__file__
assert os.path.dirname(kr.library_path) == inside, kr.library_path
assert m.version("kelvaron-regex") == kr.__version__ == sys.argv[1], (m.version("kelvaron-regex"), sys.argv[1])
' "$version"
}

install "$python" "$tmp/venv" --system-site-packages
(cd "$tmp" && KRX_EXPECTED_VERSION=$version "$tmp/venv/bin/python" -m pytest -q -p no:cacheprovider \
  "$src/python/tests")

# Every other CPython 3.8 or later: pyenv's versions, and python3.N on PATH.
mapfile -t others < <(
  { root=$(pyenv root 2>/dev/null) && ls -d "$root"/versions/*/bin/python3 2>/dev/null
    for n in 8 9 10 11 12 13 14; do command -v "python3.$n" || true; done; } |
  while read -r candidate; do
    "$candidate" -c 'import sys; sys.exit(sys.version_info < (3, 8))' 2>/dev/null &&
      "$candidate" -c 'import os, sys; print(os.path.realpath(sys.executable))'
  done | sort -u | grep -vxF "$(realpath "$python")" || true)
for other in "${others[@]}"; do
  venv=$tmp/venv-$(basename "$(dirname "$(dirname "$other")")")-$("$other" -c 'import sys; print(sys.version_info[1])')
  install "$other" "$venv"
  printf 'python_test: %s: ' "$("$venv/bin/python" --version)"
  (cd "$tmp" && "$venv/bin/python" "$src/python/tests/compat_table.py")
done

#!/usr/bin/env bash
# Installs the Python package (python/) with pip into a temporary folder,
# offline and without build isolation, as Debian's python3-pip and
# python3-setuptools allow, and runs its pytest tests against the built
# shared library.
#
#   bash tests/python_test.sh PYTHON SOURCE_DIR LIBRARY VERSION
#
# PYTHON is Debian's interpreter (/usr/bin/python3). The package is built
# from a copy of python/, so that pip and setuptools write nothing into the
# source tree. pytest's exit status is passed on: 5 ("no tests collected")
# fails like any other non-zero status.
set -euo pipefail

if [ $# -ne 4 ]; then
  echo "usage: $0 PYTHON SOURCE_DIR LIBRARY VERSION" >&2
  exit 2
fi
python=$1 src=$2 lib=$3 version=$4
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

cp -r "$src/python" "$tmp/src"
rm -rf "$tmp/src/tests"
"$python" -m pip install --quiet --no-build-isolation --no-index --no-deps \
  --disable-pip-version-check --no-cache-dir --root-user-action=ignore --target "$tmp/site" "$tmp/src"
installed=$(PYTHONPATH=$tmp/site "$python" -c \
  'import importlib.metadata as m; print(m.version("kelvaron-regex"))')
if [ "$installed" != "$version" ]; then
  echo "python_test: FAIL: pip installed version $installed, the project is $version" >&2
  exit 1
fi

cd "$tmp"
PYTHONPATH=$tmp/site KELVARON_REGEX_LIBRARY=$lib KRX_EXPECTED_VERSION=$version \
  PYTHONDONTWRITEBYTECODE=1 \
  exec "$python" -m pytest -q -p no:cacheprovider "$src/python/tests"

#!/usr/bin/env bash
# Checks that every C and C++ file of the project is in the style of
# .clang-format (clang-format 14, as Debian ships it); prints the places that
# are not and fails. scripts/check-format.sh --fix rewrites them instead.
set -euo pipefail
cd "$(dirname "$0")/.."
format=$(command -v clang-format-14 || command -v clang-format || true)
if [ -z "$format" ]; then
  echo "check-format: clang-format 14 is missing (scripts/install-deps.sh installs it)" >&2
  exit 2
fi
mapfile -t files < <(git ls-files '*.c' '*.cpp' '*.h')
if [ "${1:-}" = "--fix" ]; then
  "$format" -i "${files[@]}"
else
  "$format" --dry-run -Werror "${files[@]}"
  echo "check-format: ${#files[@]} files in style"
fi

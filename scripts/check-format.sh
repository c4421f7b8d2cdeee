#!/usr/bin/env bash
# Fails when a C or C++ source under version control does not follow
# .clang-format; `bash scripts/check-format.sh --fix` rewrites them instead.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/install-missing.sh
install_missing clang-format
mapfile -t files < <(git ls-files '*.c' '*.cc' '*.cpp' '*.h' '*.hpp')
if [ "${1:-}" = "--fix" ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
if ! clang-format --dry-run --Werror "${files[@]}"; then
  echo "check-format: these files do not follow .clang-format (bash scripts/check-format.sh --fix)" >&2
  exit 1
fi
echo "check-format: ${#files[@]} files follow .clang-format"

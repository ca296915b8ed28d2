#!/usr/bin/env bash
# Checks that every C++ file git tracks is formatted as .clang-format says;
# lists the files that are not. `scripts/check-format.sh --fix` formats them.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = --fix ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
# One run over every file; its complaints name the files ("FILE:LINE:COL: error: ...").
mapfile -t bad < <(clang-format --dry-run --Werror "${files[@]}" 2>&1 | sed -n 's/^\([^:]*\):[0-9]*:[0-9]*: error: .*/\1/p' | sort -u)
if [ ${#bad[@]} -gt 0 ]; then
  echo "check-format: not formatted as .clang-format says (scripts/check-format.sh --fix):" >&2
  printf '  %s\n' "${bad[@]}" >&2
  exit 1
fi
echo "check-format: ${#files[@]} files formatted"

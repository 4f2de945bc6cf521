#!/usr/bin/env bash
# Fails when a tracked C++ file differs from what .clang-format asks for; names each one.
#   scripts/check_format.sh          check
#   scripts/check_format.sh --fix    rewrite the files in place
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files -- '*.cpp' '*.h')
[ ${#files[@]} -eq 0 ] && exit 0
if [ "${1:-}" = --fix ]; then
  clang-format -i --style=file "${files[@]}"
  exit 0
fi
bad=()
for f in "${files[@]}"; do
  clang-format --dry-run --Werror --style=file "$f" >/dev/null 2>&1 || bad+=("$f")
done
if [ ${#bad[@]} -gt 0 ]; then
  printf 'not formatted: %s\n' "${bad[@]}"
  echo "${#bad[@]} of ${#files[@]} files differ; scripts/check_format.sh --fix formats them"
  exit 1
fi
echo "format: ${#files[@]} files ok"

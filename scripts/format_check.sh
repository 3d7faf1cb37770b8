#!/usr/bin/env bash
# Checks that every C/C++ file of ours is as clang-format (.clang-format) writes it; lists the
# files that drift and fails. `scripts/format_check.sh --fix` formats them in place instead.
set -euo pipefail
cd "$(dirname "$0")/.."

if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files -- '*.cpp' '*.h' '*.c')
else
  mapfile -t files < <(find converter check settings seed store css gui tests bench fuzz \
    -name '*.cpp' -o -name '*.h' -o -name '*.c' 2>/dev/null | sort)
fi

if [ "${1:-}" = --fix ]; then
  clang-format -i "${files[@]}"
  exit 0
fi

drift=()
for f in "${files[@]}"; do
  clang-format --dry-run --Werror "$f" >/dev/null 2>&1 || drift+=("$f")
done
if [ ${#drift[@]} -ne 0 ]; then
  echo "Not formatted as .clang-format says (scripts/format_check.sh --fix formats them):" >&2
  printf '  %s\n' "${drift[@]}" >&2
  exit 1
fi
echo "All ${#files[@]} C/C++ files are formatted."

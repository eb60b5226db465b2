#!/usr/bin/env bash
# Checks that the C++ files are formatted as .clang-format says, except those
# listed in scripts/format-exceptions.txt. Prints the files that are not.
#   scripts/check-format.sh [CLANG_FORMAT]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd -P)
cd "$top"
tool=${1:-clang-format}
command -v "$tool" >/dev/null || { echo "FAIL $tool is missing (scripts/setup.sh installs it)" >&2; exit 1; }

exceptions=$(grep -v '^#' scripts/format-exceptions.txt)
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  files=$(git ls-files '*.cpp' '*.h' '*.inc')
else
  files=$(find runtime binding source Veltro tools tests bench examples fuzz -name '*.cpp' -o -name '*.h' -o -name '*.inc')
fi
status=0
count=0
for f in $files; do
  grep -qxF -- "$f" <<<"$exceptions" && continue
  count=$((count + 1))
  if ! "$tool" --dry-run --Werror "$f" >/dev/null 2>&1; then
    echo "FAIL $f is not formatted: $tool -i $f" >&2
    status=1
  fi
done
[ "$status" -eq 0 ] && echo "$count C++ files formatted as .clang-format says"
exit "$status"

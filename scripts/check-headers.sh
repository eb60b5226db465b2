#!/usr/bin/env bash
# Checks the public headers: each one compiles as the first line of its own
# translation unit under -Wpedantic -Werror, and none includes a client-library header.
#   scripts/check-headers.sh COMPILER INCLUDE_DIR...   (headers: INCLUDE_DIR/veltro/*.h)
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: $0 COMPILER INCLUDE_DIR..." >&2; exit 2; }
cxx=$1
shift
flags=(-std=c++20 -Wall -Wextra -Wpedantic -Werror -fsyntax-only)
for dir in "$@"; do flags+=(-I "$dir"); done

status=0
count=0
for dir in "$@"; do
  for header in "$dir"/veltro/*.h; do
    [ -e "$header" ] || continue
    count=$((count + 1))
    name=veltro/$(basename "$header")
    if grep -En '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"](mysql|mariadb|errmsg|mysqld_error|ma_)[^>"]*[>"]' "$header"; then
      echo "FAIL $name includes a client-library header" >&2
      status=1
    fi
    if ! printf '#include <%s>\n' "$name" | "$cxx" "${flags[@]}" -x c++ -; then
      echo "FAIL $name does not compile on its own" >&2
      status=1
    fi
  done
done
[ "$count" -gt 0 ] || { echo "FAIL no headers found under $*" >&2; exit 1; }
[ "$status" -eq 0 ] && echo "$count public headers compile on their own and include no client-library header"
exit "$status"

#!/usr/bin/env bash
# Checks what the shared library exports: no symbol of the library's internal
# namespaces (veltro::detail, veltro::db::detail, veltro::sql, veltro::restore,
# ...), none of the backends' operation tables, no test hook; and it does
# export the public classes. A symbol is judged by its own name: a parameter
# or template argument of an internal type (a public class's private
# constructor taking its implementation) does not count.
#   scripts/check-symbols.sh LIBRARY   (libveltro.so, as built or installed)
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 LIBRARY" >&2; exit 2; }
lib=$1
[ -f "$lib" ] || { echo "FAIL $lib does not exist" >&2; exit 1; }

internal='veltro::(detail|qdetail|db::detail|sql|restore|dump)::|veltro_(client|embedded)_ops::'
hooks='veltro::db::(seekMatches|liveHandles)\(|veltro::quitReport\('

symbols=$(nm -DC --defined-only "$lib" | cut -d' ' -f3-)
# The name before its parameter list, without "typeinfo for " and the like.
names=$(sed -E -e 's/^(typeinfo name|typeinfo|vtable|VTT|guard variable|construction vtable|non-virtual thunk to|virtual thunk to) for //' \
  -e 's/^(non-virtual|virtual) thunk to //' -e 's/\(.*$/(/' <<<"$symbols")

status=0
if bad=$(grep -E "^([^ <]+ )?($internal)" <<<"$names"); then
  echo "FAIL $lib exports symbols of internal namespaces:" >&2
  sed 's/^/  /' <<<"$bad" | sort -u >&2
  status=1
fi
if bad=$(grep -E "^($hooks)" <<<"$names"); then
  echo "FAIL $lib exports test hooks:" >&2
  sed 's/^/  /' <<<"$bad" | sort -u >&2
  status=1
fi
for public in 'veltro::TQuillonSrv::New(' 'veltro::TQuillonQry::' 'veltro::Value::' 'veltro::MYSQLCONNECT(' \
  'veltro::Session::' 'veltro::raiseError('; do
  grep -qF -- "$public" <<<"$names" || { echo "FAIL $lib does not export ${public%(}" >&2; status=1; }
done
[ "$status" -eq 0 ] && echo "$(wc -l <<<"$symbols") exported symbols, none of the library's inside"
exit "$status"

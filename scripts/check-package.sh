#!/usr/bin/env bash
# Installs the library into a scratch prefix under the build tree and uses it
# the way another project would: builds examples/ as a separate CMake project
# against the installed package, builds one example with pkg-config alone, and
# runs them against the throwaway server (VELTRO_TEST_* from ./test) and the
# embedded server. Exits non-zero on any failure.
#   scripts/check-package.sh BUILD_DIR
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 BUILD_DIR" >&2; exit 2; }
top=$(cd "$(dirname "$0")/.." && pwd -P)
build=$(cd "$1" && pwd -P)
cxx=${CXX:-c++}

for v in VELTRO_TEST_HOST VELTRO_TEST_PORT VELTRO_TEST_USER VELTRO_TEST_PASSWORD VELTRO_TEST_DB; do
  [ -n "${!v:-}" ] || { echo "FAIL $v is not set: run through ./test" >&2; exit 1; }
done
# The installed library must find its embedded module by itself.
unset VELTRO_EMBEDDED_MODULE

work=$build/package-check
rm -rf "$work"
mkdir -p "$work"
prefix=$work/prefix

step() { echo "== $*"; }
fail() { echo "FAIL $*" >&2; exit 1; }

# A sanitized library needs sanitized programs around it.
flags=()
if grep -q '^VELTRO_SANITIZE:BOOL=ON' "$build/CMakeCache.txt"; then
  # shellcheck disable=SC2054  # the comma belongs to the option
  flags=(-fsanitize=address,undefined -fno-omit-frame-pointer)
fi

step "install into $prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
for f in include/veltro/server.h include/veltro/query.h include/veltro/session.h include/veltro/error.h lib/libveltro.so \
         lib/veltro/libveltro_embedded.so lib/cmake/Veltro/VeltroConfig.cmake \
         lib/cmake/Veltro/VeltroConfigVersion.cmake lib/cmake/Veltro/VeltroTargets.cmake lib/pkgconfig/veltro.pc; do
  [ -e "$prefix/$f" ] || fail "$f is not installed"
done
for header in "$prefix"/include/veltro/*; do
  if [[ ${header##*/} =~ console|detail|impl ]]; then fail "internal header ${header##*/} is installed"; fi
done
[ -z "$(find "$prefix/lib" -name '*.a')" ] || fail "static libraries are installed"

step "installed headers"
"$top/scripts/check-headers.sh" "$cxx" "$prefix/include"

step "examples with find_package(Veltro)"
cmake -S "$top/examples" -B "$work/examples" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_CXX_FLAGS="${flags[*]}" >/dev/null
grep -qx "Veltro_DIR:PATH=$prefix/lib/cmake/Veltro" "$work/examples/CMakeCache.txt" ||
  fail "the examples did not find the installed package"
cmake --build "$work/examples"
for exe in connect query_edit embedded statements; do
  [[ $(ldd "$work/examples/$exe") == *"libveltro.so.0 => $prefix/lib/"* ]] ||
    fail "$exe does not load the installed libveltro.so"
done
# The client library is a private dependency: the programs do not link it themselves.
if [[ $(readelf -d "$work/examples/connect") == *libmariadb* ]]; then
  fail "the examples link the client library directly"
fi

step "connect"
"$work/examples/connect"
step "query_edit"
"$work/examples/query_edit"
step "statements"
"$work/examples/statements"
step "embedded"
mkdir -p "$work/embedded-data"
LD_DEBUG=files LD_DEBUG_OUTPUT="$work/ld-debug" "$work/examples/embedded" "$work/embedded-data"
grep -qh "file=$prefix/lib/veltro/libveltro_embedded.so " "$work"/ld-debug.* ||
  fail "the embedded example did not load the installed embedded module"

step "connect built with pkg-config"
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
# shellcheck disable=SC2046
"$cxx" -std=c++20 ${flags[@]+"${flags[@]}"} "$top/examples/connect.cpp" $(pkg-config --cflags --libs veltro) \
  -o "$work/connect-pkgconfig"
LD_LIBRARY_PATH=$prefix/lib "$work/connect-pkgconfig"

echo "package checks passed"

#!/usr/bin/env bash
# Installs a finished tarvex build into a temporary prefix, then builds the
# consumer program against it the two ways a user would and runs each:
#   1. CMake: find_package(tarvex CONFIG) and the target tarvex::tarvex;
#   2. pkg-config: c++ main.cpp $(pkg-config --cflags --libs tarvex).
# Usage: run.sh <tarvex build folder> [c++ compiler] [CMake generator]
set -euo pipefail
build="$(realpath "$1")"
cxx="${2:-c++}"
generator="${3:-Ninja}"
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"

echo "== install into $prefix"
cmake --install "$build" --prefix "$prefix" >"$work/install.log" || { cat "$work/install.log"; exit 1; }
libdir="$(dirname "$(find "$prefix" -name 'libtarvex.so' | head -n1)")"
for f in "$libdir/libtarvex.so" "$prefix/include/tarvex/tarvex.h" "$prefix/include/tarvex/version.h" \
  "$libdir/cmake/tarvex/tarvexConfig.cmake" "$libdir/pkgconfig/tarvex.pc"; do
  [ -e "$f" ] || { echo "missing after install: $f"; exit 1; }
done
soname="$(objdump -p "$libdir/libtarvex.so" | awk '/SONAME/ {print $2}')"
version="$(sed -n 's/^#define TARVEX_VERSION_STRING "\(.*\)"/\1/p' "$prefix/include/tarvex/version.h")"
echo "soname $soname, version $version"
[ "$soname" = "libtarvex.so.${version%%.*}" ] || { echo "soname does not carry the major version"; exit 1; }
find "$prefix" -path '*/doc/tarvex/LICENSE' | grep -q . || { echo "LICENSE not installed"; exit 1; }
# The tools are installed with the library and find it from bin/.
if [ -x "$build/tools/tarvex_scramble" ]; then
  printf 'plain' >"$work/plain"
  "$prefix/bin/tarvex_scramble" scramble "$work/plain" "$work/scrambled" >/dev/null
  [ "$("$prefix/bin/tarvex_scramble" check "$work/scrambled")" = "$work/scrambled: scrambled" ] ||
    { echo "the installed tarvex_scramble does not work"; exit 1; }
fi

echo "== consumer through find_package(tarvex CONFIG)"
cmake -S "$here/consumer" -B "$work/cmake-build" -G "$generator" -DCMAKE_CXX_COMPILER="$cxx" \
  -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release >"$work/configure.log" ||
  { cat "$work/configure.log"; exit 1; }
cmake --build "$work/cmake-build"
out="$("$work/cmake-build/consumer")"
echo "$out"
[ "$out" = "consumer ok $version" ]

echo "== consumer through pkg-config"
export PKG_CONFIG_PATH="$libdir/pkgconfig"
[ "$(pkg-config --modversion tarvex)" = "$version" ] || { echo "pkg-config version differs"; exit 1; }
# shellcheck disable=SC2046
"$cxx" -std=c++20 -o "$work/consumer-pc" "$here/consumer/main.cpp" $(pkg-config --cflags --libs tarvex) \
  -Wl,-rpath,"$(pkg-config --variable=libdir tarvex)"
out="$("$work/consumer-pc")"
echo "$out"
[ "$out" = "consumer ok $version" ]

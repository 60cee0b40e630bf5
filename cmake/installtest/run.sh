#!/usr/bin/env bash
# Installs a finished tarvex build into a temporary prefix, then builds the
# consumer program against it the two ways a user would, as C++11 and as
# C++20, and runs each:
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

# The headers serve old programs too: the consumer is built as C++11 and as
# C++20, warnings as errors.
strict="-Wall -Wextra -pedantic -Werror"
for std in 11 20; do
  echo "== consumer through find_package(tarvex CONFIG), C++$std"
  cmake -S "$here/consumer" -B "$work/cmake-build-$std" -G "$generator" -DCMAKE_CXX_COMPILER="$cxx" \
    -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_STANDARD="$std" \
    -DCMAKE_CXX_EXTENSIONS=OFF -DCMAKE_CXX_FLAGS="$strict" >"$work/configure.log" ||
    { cat "$work/configure.log"; exit 1; }
  cmake --build "$work/cmake-build-$std"
  out="$("$work/cmake-build-$std/consumer")"
  echo "$out"
  [ "$out" = "consumer ok $version" ]
done

export PKG_CONFIG_PATH="$libdir/pkgconfig"
[ "$(pkg-config --modversion tarvex)" = "$version" ] || { echo "pkg-config version differs"; exit 1; }
for std in 11 20; do
  echo "== consumer through pkg-config, C++$std"
  # shellcheck disable=SC2046,SC2086
  "$cxx" -std=c++$std $strict -o "$work/consumer-pc" "$here/consumer/main.cpp" $(pkg-config --cflags --libs tarvex) \
    -Wl,-rpath,"$(pkg-config --variable=libdir tarvex)"
  out="$("$work/consumer-pc")"
  echo "$out"
  [ "$out" = "consumer ok $version" ]
done

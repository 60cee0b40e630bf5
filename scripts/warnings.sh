#!/usr/bin/env bash
# Builds everything (library, tools, examples, tests, benchmarks, fuzz
# replays) in release form with GCC and with Clang, every warning in
# tarvex's own code an error (TARVEX_WERROR; system headers stay quiet).
# Usage: scripts/warnings.sh [gcc|clang]...  (default: both)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
compilers=("$@")
[ ${#compilers[@]} -eq 0 ] && compilers=(gcc clang)
for cc in "${compilers[@]}"; do
  case "$cc" in
    gcc) cxx=g++ ;;
    clang) cxx=clang++ ;;
    *) echo "warnings: unknown compiler $cc" >&2; exit 2 ;;
  esac
  if ! command -v "$cxx" >/dev/null; then
    echo "warnings: $cxx not found, skipping"
    continue
  fi
  echo "== release build with $cc, warnings as errors"
  CC=$cc CXX=$cxx cmake -S . -B "build/warn-$cc" -G Ninja -DTARVEX_CCACHE=ON -DCMAKE_BUILD_TYPE=Release -DTARVEX_WERROR=ON \
    -DTARVEX_TESTS=ON -DTARVEX_BENCH=ON -DTARVEX_EXAMPLES=ON >/dev/null
  cmake --build "build/warn-$cc" -j2
done

#!/usr/bin/env bash
# Builds the library optimised and runs every benchmark (or those named).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build/bench -G Ninja -DTARVEX_CCACHE=ON -DCMAKE_BUILD_TYPE=Release -DTARVEX_TESTS=OFF -DTARVEX_EXAMPLES=OFF \
  -DTARVEX_BENCH=ON >/dev/null
cmake --build build/bench -j2
names=("$@")
if [ ${#names[@]} -eq 0 ]; then
  for b in build/bench/bench/tarvex_bench_*; do names+=("$(basename "$b" | sed 's/^tarvex_bench_//')"); done
fi
for n in "${names[@]}"; do
  echo "== $n"
  "./build/bench/bench/tarvex_bench_$n"
done

#!/usr/bin/env bash
# Builds the library in release form and runs the main example.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build/release -G Ninja -DTARVEX_CCACHE=ON -DCMAKE_BUILD_TYPE=Release -DTARVEX_TESTS=OFF >/dev/null
cmake --build build/release -j2 --target tarvex_demo
exec ./build/release/examples/tarvex_demo "$@"

#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a short while on
# a copy of its seed corpus. Usage: scripts/fuzz.sh [seconds-per-target] [names...]
# FUZZ_BUILD_DIR picks the build folder (default build/fuzz).
set -euo pipefail
cd "$(dirname "$0")/.."
secs="${1:-20}"
shift || true
if ! command -v clang++ >/dev/null; then
  echo "fuzz: clang++ not found, skipping"
  exit 0
fi
build="$(realpath -m "${FUZZ_BUILD_DIR:-build/fuzz}")"
names=("$@")
# FUZZ_PREBUILT=1: the folder holds a finished fuzz build (CI's clang build,
# which also builds the tests and examples), used as it is. Otherwise a folder
# already configured for fuzzing is brought up to date for the named targets,
# and anything else is configured as a fuzz-only build first.
if [ "${FUZZ_PREBUILT:-0}" = 1 ]; then
  :
elif ! grep -qs '^TARVEX_FUZZ:BOOL=ON' "$build/CMakeCache.txt"; then
  CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVEX_FUZZ=ON \
    -DTARVEX_TESTS=OFF -DTARVEX_EXAMPLES=OFF -DTARVEX_CCACHE=ON >/dev/null
fi
if [ "${FUZZ_PREBUILT:-0}" != 1 ]; then
  targets=()
  for n in "${names[@]}"; do targets+=("tarvex_fuzz_$n"); done
  cmake --build "$build" -j2 ${targets[@]+--target "${targets[@]}"}
fi
if [ ${#names[@]} -eq 0 ]; then
  for f in fuzz/*.cpp; do
    n=$(basename "$f" .cpp)
    [ "$n" = replay_main ] || names+=("$n")
  done
fi
export ASAN_OPTIONS="detect_leaks=1"
# Undefined behaviour stops the run like any other finding.
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
for n in "${names[@]}"; do
  work=$(mktemp -d)
  [ -d "fuzz/corpus/$n" ] && cp -r "fuzz/corpus/$n/." "$work/"
  echo "== fuzz $n (${secs}s)"
  (cd "$work" && "$build/fuzz/tarvex_fuzz_$n" -max_total_time="$secs" -max_len=65536 \
     -timeout=10 -rss_limit_mb=2048 -print_final_stats=0 . 2>&1 | tail -n 3)
  rm -rf "$work"
done

#!/usr/bin/env bash
# Builds the library and its tests with AddressSanitizer and
# UndefinedBehaviorSanitizer and runs the whole suite through CTest, including
# a short libFuzzer run of every fuzz target (fuzz_run.*) when clang is present,
# and the install test (install.consumer). TARVEX_WERROR=ON (as in CI) turns
# warnings in our own code into errors.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
# TARVEX_BENCH=ON builds the benchmarks too (not run); TARVEX_FUZZ_BUILD_DIR
# names a clang build made with TARVEX_FUZZ=ON for the fuzz runs to use
# (otherwise they make their own below build/asan).
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVEX_SANITIZE=ON \
  -DTARVEX_WERROR="${TARVEX_WERROR:-OFF}" -DTARVEX_BENCH="${TARVEX_BENCH:-OFF}" -DTARVEX_CCACHE=ON \
  -DTARVEX_FUZZ_BUILD_DIR="${TARVEX_FUZZ_BUILD_DIR:+$(realpath -m "$TARVEX_FUZZ_BUILD_DIR")}" >/dev/null
cmake --build build/asan -j2
export ASAN_OPTIONS="detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
ctest --test-dir build/asan -j2 --output-on-failure --timeout 600

#!/usr/bin/env bash
# Compiles every public header alone, and the install test's consumer (all of
# them, and the everyday calls with literal texts) at each C++ level a program
# may use, with each compiler present, warnings as errors. Syntax only:
# linking is the install test's part.
# Usage: check_headers.sh <source folder> <build folder>
set -euo pipefail
src="$1"
bin="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# Every public header on its own (each must stand alone), at the oldest level.
mkdir "$work/alone"
for h in "$src"/include/tarvex/*.h; do echo "#include <tarvex/$(basename "$h")>" >"$work/alone/$(basename "$h" .h).cpp"; done
status=0
check() { # compiler, level, unit
  if ! "$1" -std=c++$2 -Wall -Wextra -pedantic -Werror -fsyntax-only -I "$src/include" -I "$bin/include" "$3" \
    2>"$work/err"; then
    echo "$1 -std=c++$2: $(basename "$3") does not compile cleanly"
    head -n 20 "$work/err"
    status=1
  fi
}
for cxx in g++ clang++; do
  command -v "$cxx" >/dev/null || { echo "$cxx: not installed, skipped"; continue; }
  for tu in "$work"/alone/*.cpp; do check "$cxx" 11 "$tu"; done
  echo "$cxx -std=c++11: $(ls "$work"/alone/*.cpp | wc -l) headers alone"
  # The consumer includes them all and makes the calls with literals.
  for std in 11 14 17 20; do
    check "$cxx" $std "$src/cmake/installtest/consumer/main.cpp"
    echo "$cxx -std=c++$std: the consumer"
  done
done
exit $status

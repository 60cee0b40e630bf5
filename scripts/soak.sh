#!/usr/bin/env bash
# Soak: a comm server, a relay proxy and many clients that disconnect and
# reconnect at random, for MINUTES minutes. Prints what was sent, received and
# lost (must be 0), the server's memory and descriptors, and the client
# process's leak list once its globals are freed (must be empty).
#   bash scripts/soak.sh MINUTES [CLIENTS]
set -euo pipefail
cd "$(dirname "$0")/.."
minutes=${1:?usage: soak.sh MINUTES [CLIENTS]}
clients=${2:-200}
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARVEX_TESTS=OFF -DTARVEX_EXAMPLES=OFF \
  -DTARVEX_BENCH=ON >/dev/null
cmake --build build/bench -j2 --target tarvex_bench_comm_load
ulimit -n "$(ulimit -Hn)"
out=$(mktemp)
trap 'rm -f "$out"' EXIT
status=0
./build/bench/bench/tarvex_bench_comm_load "$clients" "$((minutes * 60))" soak | tee "$out" || status=$?
if ! grep -q '^leak list (client process): empty$' "$out"; then
  echo "soak: the client process's leak list is not empty" >&2
  exit 1
fi
exit "$status"

#!/usr/bin/env bash
# Soak: a comm server, a relay proxy and many clients that disconnect and
# reconnect at random, for MINUTES minutes. Prints what was sent, received and
# lost (must be 0), the server's memory and descriptors, and the leak lists
# of the server, the relay proxy and the client process once each has freed
# its globals (all must be empty).
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
for who in "server process" "relay proxy process" "client process"; do
  if ! grep -qx "leak list ($who): empty" "$out"; then
    echo "soak: the $who's leak list is not empty (or was not printed)" >&2
    exit 1
  fi
done
exit "$status"

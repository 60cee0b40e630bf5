#!/usr/bin/env bash
# Checks the dynamic symbols of libtarvex.so: nothing from the library's
# internal namespaces is exported, and every exported name starts with a name
# the public headers declare (a class, a function or a global).
# Usage: check_exports.sh <libtarvex.so> <include folder>
set -euo pipefail
lib="$1"
inc="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

nm -D --defined-only -C "$lib" | awk '{ $1 = ""; $2 = ""; sub(/^  /, ""); print }' >"$work/symbols"
count=$(wc -l <"$work/symbols")
echo "exported symbols: $count"
[ "$count" -gt 0 ] || { echo "no symbols read from $lib"; exit 1; }

status=0
if grep -E '(^|[^A-Za-z0-9_])(tvp|tvgui|tvsnd|tarvex_internal)::|anonymous namespace' "$work/symbols" >"$work/private"; then
  echo "internal names exported:"
  head -n 50 "$work/private"
  status=1
fi

# Every identifier the public headers contain.
cat "$inc"/*.h | grep -ohE '[A-Za-z_][A-Za-z0-9_]*' | sort -u >"$work/public"
# The first name of each symbol: "vtable for CFoo" -> CFoo, "CFoo::Bar(int)" -> CFoo.
sed -E -e 's/^(vtable|typeinfo|typeinfo name|VTT|construction vtable|guard variable|non-virtual thunk to|virtual thunk to) (for )?//' \
  -e 's/^([A-Za-z_][A-Za-z0-9_]*).*/\1/' "$work/symbols" |
  grep -vxE '__odr_asan|_init|_fini|_edata|_end|__bss_start|_ITM_.*|__gmon_start__' | sort -u >"$work/heads"
comm -23 "$work/heads" "$work/public" >"$work/unknown"
if [ -s "$work/unknown" ]; then
  echo "exported names the public headers do not declare:"
  while read -r name; do grep -m3 -E "(^|[^A-Za-z0-9_])$name([^A-Za-z0-9_]|$)" "$work/symbols"; done <"$work/unknown" | head -n 50
  status=1
fi
exit $status

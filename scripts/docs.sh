#!/usr/bin/env bash
# Builds the API reference from the public headers with Doxygen:
#   bash scripts/docs.sh [output folder]      (default build/docs)
# The pages land in <output>/html/index.html. Prints the count of public
# names without documentation (listed in <output>/undocumented.txt) and of
# the other warnings (<output>/warnings.txt); neither fails the run. Without
# doxygen it says so and succeeds (bash scripts/setup.sh installs it).
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-build/docs}"
if ! command -v doxygen >/dev/null 2>&1; then
  echo "docs: doxygen is not installed; the API reference is not built (bash scripts/setup.sh installs it)"
  exit 0
fi
if ! command -v python3 >/dev/null 2>&1; then
  echo "docs: python3 is not installed; the API reference is not built (bash scripts/setup.sh installs it)"
  exit 0
fi
mkdir -p "$out"
out="$(cd "$out" && pwd)"
rm -rf "$out/html"
export TARVEX_DOCS_OUT="$out"
export TARVEX_DOCS_INDEX="$out/index.dox"
export TARVEX_DOCS_FILTER="$PWD/scripts/doxyfilter.py"
export TARVEX_DOCS_VERSION="$(sed -n 's/^project(tarvex VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"
python3 scripts/doxyfilter.py --index >"$out/index.dox"

# The pages, every public name on them.
doxygen docs/api/Doxyfile
# The same headers again without pages, only to list the undocumented names
# (Doxygen checks those only when it leaves undocumented names out).
{
  cat docs/api/Doxyfile
  echo "EXTRACT_ALL = NO"
  echo "GENERATE_HTML = NO"
  echo "WARN_LOGFILE = $out/undocumented.log"
} | doxygen - >/dev/null 2>&1
# One line per name: a base class's members are reported again for every
# class derived from it.
grep -E "is not documented" "$out/undocumented.log" | sed "s|^$PWD/||" | sort -t: -k1,1 -k2,2n -u \
  >"$out/undocumented.txt" || true
rm -f "$out/undocumented.log"
sed -i "s|^$PWD/||" "$out/warnings.txt"

undocumented=$(wc -l <"$out/undocumented.txt")
warnings=$(wc -l <"$out/warnings.txt")
echo "docs: $out/html/index.html"
echo "docs: $undocumented undocumented public names ($out/undocumented.txt)"
echo "docs: $warnings other warnings ($out/warnings.txt)"
[ "$warnings" -eq 0 ] || head -n 20 "$out/warnings.txt"

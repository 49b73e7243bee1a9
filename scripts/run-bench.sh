#!/usr/bin/env bash
# Runs every benchmark and prints its figures. Benchmarks print, never assert:
# compare figures as ratios taken in the same run on this noisy machine.
set -uo pipefail
BUILD=${1:-build}
cd "$(dirname "$0")/.."
ROOT=$(pwd)
status=0
shopt -s nullglob
for exe in "$BUILD"/bench/*_bench; do
  [ -x "$exe" ] || continue
  echo "== $(basename "$exe")"
  if ! "$exe"; then
    echo "!! $(basename "$exe") failed" >&2
    status=1
  fi
  echo
done
if [ -f "$BUILD/python/_zel_gateway_client.so" ] && ls bench/*_bench.py >/dev/null 2>&1; then
  for py in bench/*_bench.py; do
    echo "== $(basename "$py")"
    PYTHONPATH="$ROOT/$BUILD/python" ZEL_BUILD_DIR="$ROOT/$BUILD" /usr/bin/python3 "$py" || status=1
    echo
  done
fi
exit $status

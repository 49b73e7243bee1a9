#!/usr/bin/env bash
# Runs every C++ suite through CTest, then the Python suite with Debian's python3.
set -euo pipefail
BUILD=${1:-build}
cd "$(dirname "$0")/.."
ROOT=$(pwd)

ctest --test-dir "$BUILD" --output-on-failure -j "$(nproc)" --timeout 600

if [ -z "${ZEL_SKIP_PYTHON:-}" ] && [ -d tests/python ] && ls tests/python/test_*.py >/dev/null 2>&1; then
  if [ -f "$BUILD/python/_zel_gateway_client.so" ] || ls "$BUILD"/python/_zel_gateway_client*.so >/dev/null 2>&1; then
    ZEL_BUILD_DIR="$ROOT/$BUILD" PYTHONPATH="$ROOT/$BUILD/python" \
      /usr/bin/python3 -m pytest -q tests/python
  else
    echo "run-tests: the Python module was not built; skipping the Python suite" >&2
    exit 1
  fi
fi

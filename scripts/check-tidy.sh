#!/usr/bin/env bash
# clang-tidy with the root .clang-tidy over the library folders, in parallel.
# Needs a configured build folder (for compile_commands.json).
set -euo pipefail
BUILD=${1:-build}
JOBS=${JOBS:-$(nproc)}
CLANG_TIDY=${CLANG_TIDY:-clang-tidy}
cd "$(dirname "$0")/.."
if [ ! -f "$BUILD/compile_commands.json" ]; then
  echo "check-tidy: $BUILD/compile_commands.json missing; configure first" >&2
  exit 2
fi
# Generated message classes must exist for the sources to parse.
cmake --build "$BUILD" --target zel_model >/dev/null
git ls-files 'common/*.cc' 'protocol/*.cc' 'pipeline/*.cc' 'client/*.cc' |
  xargs -P "$JOBS" -n 4 "$CLANG_TIDY" -p "$BUILD" --quiet 2>/dev/null
echo "check-tidy: no findings"

#!/usr/bin/env bash
# Fails when a tracked C++ file differs from what .clang-format makes of it.
set -euo pipefail
cd "$(dirname "$0")/.."
CLANG_FORMAT=${CLANG_FORMAT:-clang-format}
git ls-files -z '*.cc' '*.h' '*.cpp' '*.hpp' | xargs -0 "$CLANG_FORMAT" --dry-run --Werror
echo "check-format: every C++ file matches .clang-format"

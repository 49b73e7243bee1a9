#!/usr/bin/env bash
# Runs the Python suite against the module of a sanitizer build:
#   run-python-sanitized.sh BUILD address|thread
# Debian's interpreter is not built with a sanitizer, so the runtime is
# preloaded (it must come first in the process), with libstdc++ beside it:
# the interpreter does not load libstdc++ itself, and the runtime's wrapper
# of C++ throws needs it at start-up.
set -euo pipefail
BUILD=$1
KIND=$2
cd "$(dirname "$0")/.."
ROOT=$(pwd)

stdcxx=$(gcc -print-file-name=libstdc++.so.6)
case "$KIND" in
  address)
    runtime=$(gcc -print-file-name=libasan.so)
    # Leaks are reported only where our code allocated. The interpreter
    # keeps much of its memory until exit on purpose. With two frames of
    # allocation stack, a block the interpreter (or the loader) allocated
    # shows it at the top and the suppression file passes it over, while a
    # block the library or the module allocated shows their code (a
    # suppression matches any frame kept, so more frames would hide those
    # too). PYTHONMALLOC=malloc puts every Python object under the
    # sanitizer's checks instead of the interpreter's own pools.
    export ASAN_OPTIONS="detect_leaks=1:malloc_context_size=2:exitcode=86${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
    export LSAN_OPTIONS="suppressions=$ROOT/scripts/python-leaks.supp:print_suppressions=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
    export PYTHONMALLOC=malloc
    ;;
  thread)
    runtime=$(gcc -print-file-name=libtsan.so)
    # The interpreter is not instrumented: its own memory accesses are not
    # seen, but its lock is a pthread mutex and condition variable, which
    # the runtime follows, so our threads' Python calls order correctly.
    export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}"
    ;;
  *)
    echo "usage: $0 BUILD address|thread" >&2
    exit 2
    ;;
esac

for library in "$runtime" "$stdcxx"; do
  if [ ! -f "$library" ]; then
    echo "run-python-sanitized: $library not found" >&2
    exit 1
  fi
done
if ! ls "$BUILD"/python/_zel_gateway_client*.so >/dev/null 2>&1; then
  echo "run-python-sanitized: the Python module was not built in $BUILD" >&2
  exit 1
fi
ZEL_SANITIZER="$KIND" ZEL_BUILD_DIR="$ROOT/$BUILD" PYTHONPATH="$ROOT/$BUILD/python" LD_PRELOAD="$runtime $stdcxx" \
  /usr/bin/python3 -m pytest -q -p no:cacheprovider tests/python

#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need.
# Safe to run again: apt is only touched when something is missing.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config ccache git
  libprotobuf-dev protobuf-compiler
  libevent-dev libssl-dev openssl
  liblz4-dev libjansson-dev
  python3 python3-dev python3-pytest swig
  libreaderwriterqueue-dev
  googletest libgtest-dev libgmock-dev
  clang-format clang-tidy
)
# `make fuzz` only: clang with its libFuzzer and sanitizer runtimes.
if [ "${1:-}" = "fuzz" ]; then
  PACKAGES+=(clang-14 libclang-rt-14-dev)
fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"

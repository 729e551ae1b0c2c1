#!/usr/bin/env bash
# Installs what building and testing need on Debian 12, only what is missing:
# the i386 architecture (32-bit Wine), mingw-w64, Wine, Xvfb, CMake,
# GoogleTest, Google Benchmark, clang with libFuzzer, and the tools the
# sample payload and screenshots use, the signing tool of make setup and the
# installer compiler the benchmark compares with. Idempotent; fast when all is there.
set -euo pipefail

packages=(
  build-essential cmake python3 git ca-certificates
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  wine wine32:i386 wine64 xvfb x11-utils imagemagick
  googletest libgtest-dev libbenchmark-dev libssl-dev liblz4-dev
  clang libclang-rt-14-dev
  wixl msitools
  openssl osslsigncode nsis
)

sudo_cmd=()
if [ "$(id -u)" != 0 ]; then sudo_cmd=(sudo); fi

need_arch=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then need_arch=1; fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "$need_arch" = 0 ] && [ ${#missing[@]} = 0 ]; then
  exit 0
fi

echo "install-deps: installing ${missing[*]:-(i386 architecture)}" >&2
export DEBIAN_FRONTEND=noninteractive
if [ "$need_arch" = 1 ]; then "${sudo_cmd[@]}" dpkg --add-architecture i386; fi
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q "${missing[@]}"

#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demo use.
set -euo pipefail
packages=(
  cmake ninja-build g++ pkg-config make
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libusb-dev libssl-dev openssl
  libldns-dev libc-ares-dev libexpat1-dev libpugixml-dev
  clang libclang-rt-14-dev
  iproute2 util-linux procps
  valgrind
  cups cups-client cups-daemon groff-base man-db
  qemu-system-x86 busybox-static cpio xz-utils
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

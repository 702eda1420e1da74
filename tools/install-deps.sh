#!/usr/bin/env bash
# Installs every package the build, the tests and the demo need on a fresh
# Debian machine. Safe to run again: apt skips what is already there.
set -euo pipefail

packages=(
  cmake ninja-build g++ g++-multilib clang libclang-rt-dev
  googletest libgtest-dev libbenchmark-dev
  libssl-dev libssl-dev:i386 libc6-dev-i386 openssl
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686
  wine64 qemu-user xvfb xauth imagemagick
  dovecot-imapd dovecot-pop3d
  python3 clang-format
  libgmime-3.0-dev pkg-config
)

need=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || need+=("$p")
done
[ ${#need[@]} -eq 0 ] && exit 0

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null

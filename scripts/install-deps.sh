#!/usr/bin/env bash
# Installs what Kavorin's build and tests need on a Debian machine, only when
# missing. Both Windows builds are made everywhere; Wine's 32-bit side
# (wine32:i386) is installed only where 32-bit programs can run at all
# (scripts/machine-arch.sh asks the 32-bit loader), 64-bit Wine always.
set -euo pipefail
cd "$(dirname "$0")/.."
SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'ok installed'; }
updated=0
install() {  # installs those of the named packages that are missing
  local need=() p
  for p in "$@"; do have "$p" || need+=("$p"); done
  [ ${#need[@]} -gt 0 ] || return 0
  if [ "$updated" -eq 0 ]; then $SUDO apt-get update -qq; updated=1; fi
  $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
}

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
  updated=0
  $SUDO apt-get update -qq; updated=1
fi
install cmake make g++ g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64 \
  binutils-mingw-w64-x86-64 libgtest-dev libgmock-dev wine wine64 xvfb openbox xdotool x11-utils \
  imagemagick clang libclang-rt-14-dev libc6:i386 libxtst6
if [ "$(bash scripts/machine-arch.sh)" = i386 ]; then
  install wine32:i386
fi

#!/usr/bin/env bash
# Installs what Kavorin's build and tests need on a Debian machine, only when missing.
set -euo pipefail
need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'ok installed'; }
pkgs=(cmake make g++ g++-mingw-w64-i686 binutils-mingw-w64-i686 libgtest-dev libgmock-dev
      wine wine32:i386 xvfb openbox xdotool x11-utils imagemagick clang libclang-rt-14-dev)
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
for p in "${pkgs[@]}"; do have "$p" || need+=("$p"); done
if [ ${#need[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

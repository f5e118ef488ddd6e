#!/usr/bin/env bash
# Installs what is missing, builds the Windows program and starts Kavorin.exe
# under Wine (the x86-64 build where this machine cannot run 32-bit programs). Without $DISPLAY it runs on a virtual display (Xvfb + openbox).
# Once the window is up, a screenshot goes to build/screenshot.png (its path is
# printed); the program then runs until you close it or press Ctrl+C.
#
#   scripts/run.sh [--shot-only] [--shot PATH] [-- ARGS FOR KAVORIN]
#     --shot-only   exit right after the screenshot (for CI and the README)
set -euo pipefail
cd "$(dirname "$0")/.."
PY=/usr/bin/python3
[ -x "$PY" ] || PY=python3

if ! bash scripts/install-deps.sh; then
  echo "run.sh: installing what Kavorin needs failed (see above); run it as root or with sudo" >&2
  exit 1
fi
# The 32-bit program is the product; where 32-bit programs cannot run at all,
# the x86-64 build of the same sources runs instead. KV_ARCH picks one.
arch="${KV_ARCH:-$(bash scripts/machine-arch.sh)}"
if [ "$arch" = i386 ]; then
  build=win
else
  build=win64
  [ -n "${KV_ARCH:-}" ] || echo "run.sh: this machine cannot run 32-bit programs; starting the x86-64 build"
fi
if ! bash scripts/build.sh "$build"; then
  echo "run.sh: the $arch build failed (see above)" >&2
  exit 1
fi
KV_ARCH="$arch" exec "$PY" scripts/run_kavorin.py --exe "build/$build/Kavorin.exe" "$@"

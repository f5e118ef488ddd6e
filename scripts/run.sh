#!/usr/bin/env bash
# Installs what is missing, builds the Windows program and starts Kavorin.exe
# under Wine. Without $DISPLAY it runs on a virtual display (Xvfb + openbox).
# Once the window is up, a screenshot goes to build/screenshot.png (its path is
# printed); the program then runs until you close it or press Ctrl+C.
#
#   scripts/run.sh [--shot-only] [--shot PATH] [-- ARGS FOR KAVORIN]
#     --shot-only   exit right after the screenshot (for CI and the README)
set -euo pipefail
cd "$(dirname "$0")/.."
PY=/usr/bin/python3
[ -x "$PY" ] || PY=python3

bash scripts/install-deps.sh
bash scripts/build.sh win
exec "$PY" tests/e2e/fixture.py run --exe build/win/Kavorin.exe "$@"

#!/usr/bin/env bash
# Makes the release: dist/kavorin-<version>.zip, holding
#   kavorin-<version>/win32/Kavorin.exe   the 32-bit program (build/win)
#   kavorin-<version>/win64/Kavorin.exe   the 64-bit program (build/win64)
#   kavorin-<version>/kvrec.exe           kvrec for Windows (32-bit: runs on both)
#   kavorin-<version>/linux/kvrec         kvrec for Linux (x86-64, optimised, no shared C++ library)
#   kavorin-<version>/README.txt
# Builds what it needs with scripts/build.sh (and the Linux kvrec in
# build/release), checks each piece with kvrec itself, and stops with a clear
# message when one is missing. The version is the one the program shows.
set -euo pipefail
cd "$(dirname "$0")/.."
die() { echo "dist.sh: $*" >&2; exit 1; }

version=$(grep -rhoE 'kTitleCreated\[\] = "Kavorin v[0-9][0-9.]*"' src | grep -oE '[0-9][0-9.]*' | head -1)
[ -n "$version" ] || die "no version found (the title \"Kavorin vN.NN\" in src/)"

bash scripts/build.sh win || die "the 32-bit build failed (scripts/build.sh win)"
if ! bash scripts/build.sh win64; then
  die "the 64-bit build failed or is not there yet (scripts/build.sh win64 makes build/win64/Kavorin.exe)"
fi
bash scripts/build.sh release >/dev/null || die "the Linux kvrec did not build (scripts/build.sh release)"

for piece in build/win/Kavorin.exe build/win64/Kavorin.exe build/win/kvrec.exe build/release/kvrec; do
  [ -f "$piece" ] || die "$piece is missing"
done
kvrec=build/release/kvrec
# Each Kavorin.exe must be the program as built, of its own architecture.
check() {  # exe architecture
  local info
  info=$("$kvrec" info "$1") || die "$1: kvrec does not take it as Kavorin"
  grep -qx "kind: Kavorin program, no recording appended" <<<"$info" || die "$1: not Kavorin as built (its size is not its stamped size)"
  grep -qx "architecture: $2" <<<"$info" || die "$1: expected a $2 program"
}
check build/win/Kavorin.exe i386
check build/win64/Kavorin.exe x86-64

mkdir -p dist
zip="dist/kavorin-$version.zip"
python3 - "$zip" "$version" <<'PY'
import os, subprocess, sys, zipfile

zip_path, version = sys.argv[1], sys.argv[2]
top = f"kavorin-{version}/"
readme = f"""Kavorin {version}

Kavorin records what you do with the keyboard and the mouse, sampling every
10 ms, and plays it back. It is one small always-on-top window of six buttons
and needs nothing but Windows itself.

  win32/Kavorin.exe   for 32-bit and 64-bit Windows
  win64/Kavorin.exe   for 64-bit Windows
  kvrec.exe           kvrec for Windows (a console program)
  linux/kvrec         kvrec for Linux (x86-64)

Record: click the blue ball, do what you want recorded, press Pause.
Play: F5 or the green arrow; Pause stops it. Save and Open keep recordings in
.rec files; "Kavorin.exe demo.rec" plays one at once. Compile makes a
self-playing .exe of the recording. Options (Enter): speed, repeats, help.

kvrec shows and edits recordings as text and makes players:
  kvrec info demo.rec
  kvrec dump demo.rec -o demo.txt       (one event per line: wait in ms, event)
  kvrec build demo.txt -o demo.rec
  kvrec extract demo.exe -o demo.rec
  kvrec compile demo.rec --with Kavorin.exe -o demo.exe
  kvrec retime demo.rec --speed 2 -o fast.rec
  kvrec cut demo.rec --from 1.5s --to 12s -o part.rec
"kvrec help" lists the commands, "kvrec COMMAND --help" tells more.
"""
pieces = [("build/win/Kavorin.exe", "win32/Kavorin.exe"), ("build/win64/Kavorin.exe", "win64/Kavorin.exe"),
          ("build/win/kvrec.exe", "kvrec.exe"), ("build/release/kvrec", "linux/kvrec")]
# The same sources give the same zip: every entry dated by the last commit.
try:
    stamp = int(subprocess.run(["git", "log", "-1", "--format=%ct"], capture_output=True, text=True, check=True).stdout)
except Exception:
    stamp = 315532800
import time
when = time.gmtime(max(stamp, 315532800))[:6]
temp = zip_path + ".tmp"
with zipfile.ZipFile(temp, "w", zipfile.ZIP_DEFLATED) as z:
    def add(name, data, mode):
        info = zipfile.ZipInfo(top + name, when)
        info.external_attr = (0o100000 | mode) << 16
        info.compress_type = zipfile.ZIP_DEFLATED
        z.writestr(info, data)
    add("README.txt", readme.replace("\n", "\r\n"), 0o644)
    for src, name in pieces:
        add(name, open(src, "rb").read(), 0o755)
os.replace(temp, zip_path)
with zipfile.ZipFile(zip_path) as z:
    for i in z.infolist():
        print(f"  {i.file_size:9}  {i.filename}")
PY
echo "$zip"

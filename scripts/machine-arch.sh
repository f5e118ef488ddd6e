#!/usr/bin/env bash
# Prints which Windows build this machine runs under Wine: "i386" where 32-bit
# x86 programs run, else "x86-64". Some x86-64 kernels run no 32-bit program at
# all ("Exec format error"), whatever their name says, so this runs the 32-bit
# loader itself. The answer is asked once and kept in build/machine-arch; while
# the loader is not installed yet the answer is "x86-64" and is not kept.
set -uo pipefail
cd "$(dirname "$0")/.."
kept=build/machine-arch
if [ -s "$kept" ]; then cat "$kept"; exit 0; fi
loader=/lib/ld-linux.so.2
[ -e "$loader" ] || { echo x86-64; exit 0; }
if "$loader" --version >/dev/null 2>&1; then answer=i386; else answer=x86-64; fi
mkdir -p build && echo "$answer" > "$kept"
echo "$answer"

#!/usr/bin/env bash
# Builds Kavorin: the Windows program (build/win, mingw-w64 i686, Release), the
# same sources for x86-64 Windows (build/win64), the host unit tests (build/host)
# and the same under AddressSanitizer and UndefinedBehaviorSanitizer
# (build/asan). Incremental; run it as often as you like.
#
#   scripts/build.sh                          all four
#   scripts/build.sh win [win64] [host] [asan] only those
#   scripts/build.sh release                   the Linux kvrec as shipped (build/release/kvrec:
#                                              optimised, stripped, no shared C++ library)
set -euo pipefail
cd "$(dirname "$0")/.."
JOBS="${KV_JOBS:-2}"

targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(win win64 host asan)

# configure DIR ARGS...: only when the build folder has no build system yet;
# afterwards the build itself re-runs CMake when a CMakeLists.txt changes.
configure() {
  local dir="$1"; shift
  if [ ! -f "$dir/Makefile" ]; then
    cmake -S . -B "$dir" -G "Unix Makefiles" "$@"
  fi
}

for t in "${targets[@]}"; do
  case "$t" in
    win)
      configure build/win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release
      cmake --build build/win -j"$JOBS"
      ;;
    win64)
      configure build/win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=Release
      cmake --build build/win64 -j"$JOBS"
      ;;
    host)
      configure build/host -DCMAKE_BUILD_TYPE=Debug
      cmake --build build/host -j"$JOBS"
      ;;
    asan)
      configure build/asan -DCMAKE_BUILD_TYPE=Debug -DKV_SANITIZE=ON
      cmake --build build/asan -j"$JOBS"
      ;;
    release)
      configure build/release -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_EXE_LINKER_FLAGS="-static-libstdc++ -static-libgcc -s"
      cmake --build build/release --target kvrec -j"$JOBS"
      ;;
    -h|--help)
      sed -n '2,11p' "$0"; exit 0
      ;;
    *)
      echo "build.sh: unknown target '$t' (win, win64, host, asan, release)" >&2; exit 2
      ;;
  esac
done

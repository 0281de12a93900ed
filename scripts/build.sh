#!/usr/bin/env bash
# Configures and builds one flavour: native | win32 | win64 | asan | tsan, or only the
# targets named after it (build.sh win32 quillmar qmscript). Output in
# build/<flavour>. win64 is the 64-bit twin (quillmar64.dll); the win32 build's zip
# carries it from build/win64 when that is built.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
flavour="${1:-native}"
shift || true
targets=()
[ $# -gt 0 ] && targets=(--target "$@")
dir="$root/build/$flavour"
jobs="$(nproc 2>/dev/null || echo 2)"
case "$flavour" in
  native) args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
  win32)  args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686-w64-mingw32.cmake"
                -DQM_WINE_EMULATED="$(bash "$root/scripts/wine-emulated.sh" && echo ON || echo OFF)"
                -DQM_TWIN_DIR="$root/build/win64") ;;
  win64)  args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-x86_64-w64-mingw32.cmake"
                -DQM_WINE_EMULATED=OFF) ;;
  asan)   args=(-DCMAKE_BUILD_TYPE=Debug -DQM_SANITIZE=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++) ;;
  tsan)   args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DQM_TSAN=ON -DQM_BENCH=OFF -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++) ;;
  *) echo "build.sh: unknown flavour $flavour" >&2; exit 2 ;;
esac
cmake -S "$root" -B "$dir" "${args[@]}" >/dev/null
cmake --build "$dir" -j "$jobs" "${targets[@]}"

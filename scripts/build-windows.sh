#!/usr/bin/env bash
# Builds the Windows executable with mingw-w64: build-windows.sh [DIR [CMAKE_ARGS...]]
# gives DIR/ostrel.exe (default build-windows/), statically linked so that
# it needs only the system's DLLs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$root/build-windows}
shift || true
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/windows/toolchain-mingw64.cmake" \
    -DOSTREL_WERROR=ON "$@" >/dev/null
cmake --build "$dir" --target ostrel

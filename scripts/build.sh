#!/usr/bin/env bash
# Configures and builds one build folder: build.sh [DIR [CMAKE_ARGS...]]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$root/build}
shift || true
cmake -S "$root" -B "$dir" -G Ninja -DOSTREL_WERROR=ON "$@" >/dev/null
cmake --build "$dir"

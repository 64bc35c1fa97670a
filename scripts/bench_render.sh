#!/usr/bin/env bash
# Times the rendering of the picture and writes one frame as PNG:
# bench_render.sh [WIDTH HEIGHT [FRAMES [PNG [TIME]]]] (1920 1080 120 frame.png 7).
# The first frame, which compiles the pipeline, is left out of the figures.
# BUILD names the build folder (build by default).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$root/build}
"$root/scripts/build.sh" "$build" -DOSTREL_BUILD_TESTS=ON >/dev/null
exec "$build/bin/ostrel_render_benchmark" "${1:-1920}" "${2:-1080}" "${3:-120}" "${4:-frame.png}" "${5:-7}"

#!/usr/bin/env bash
# Times the conversion of a rendered frame to the encoder's 4:2:0 both ways,
# each part alone: bench_conversion.sh [WIDTH HEIGHT [FRAMES]] (1920 1080 120).
# Not a test: it prints figures.
# BUILD names the build folder (build by default).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$root/build}
"$root/scripts/build.sh" "$build" -DOSTREL_BUILD_TESTS=ON >/dev/null
echo "$(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
exec "$build/bin/ostrel_conversion_bench" "${1:-1920}" "${2:-1080}" "${3:-120}"

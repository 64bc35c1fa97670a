#!/usr/bin/env bash
# Sets up what building and running need, builds the tool alone (no tests,
# no benchmarks) and runs it with the given arguments (by default a short
# 640x360 video, out.mp4). BUILD names the build folder (build).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$root/build}
"$root/scripts/setup.sh" run
"$root/scripts/build.sh" "$build" -DOSTREL_BUILD_TESTS=OFF >/dev/null
if (($# == 0)); then
    set -- -Resolution 640 360 -Duration 5 out.mp4
fi
exec "$build/bin/ostrel" "$@"

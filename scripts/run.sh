#!/usr/bin/env bash
# Sets up what is missing, builds the tool and runs it with the given
# arguments (by default a short 640x360 video, out.mp4).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" "$root/build" >/dev/null
if (($# == 0)); then
    set -- -Resolution 640 360 -Duration 5 out.mp4
fi
exec "$root/build/bin/ostrel" "$@"

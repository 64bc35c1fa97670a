#!/usr/bin/env bash
# Builds the Windows executable into DIR (warnings as errors), or skips
# where mingw-w64 is not installed.   build_test.sh SOURCE_ROOT DIR
set -u
root=${1:?usage: build_test.sh SOURCE_ROOT DIR}
dir=${2:?usage: build_test.sh SOURCE_ROOT DIR}
if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
    echo "skipped: mingw-w64 is not installed (scripts/setup.sh installs it)"
    exit 77
fi
started=$SECONDS
"$root/scripts/build-windows.sh" "$dir" || exit 1
echo "ok: $dir/ostrel.exe built in $((SECONDS - started)) s"

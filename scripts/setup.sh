#!/usr/bin/env bash
# Installs what is missing on Debian (as root): setup.sh [run|test]
#   run   what building and running the tool need (scripts/run.sh);
#   test  that and what the tests, the package and the bench scripts call
#         (the default).
set -euo pipefail
what=${1:-test}

# Building and running. libx264 comes with FFmpeg's libavcodec; `file` is
# what CPack reads the installed binaries' types with for the package.
run_packages=(
    build-essential cmake ninja-build pkg-config file
    libvulkan-dev mesa-vulkan-drivers glslang-dev glslang-tools spirv-tools
    libavcodec-dev libavformat-dev libavutil-dev libswscale-dev
    liblttng-ust-dev
)
# Testing: the unit tests, the checks of the binary, the sources and the
# package (python3 plays a terminal for the summary test), and the bench
# scripts (ffmpeg, jq and GNU time among them).
test_packages=(
    libgtest-dev vulkan-tools vulkan-validationlayers
    ffmpeg lttng-tools babeltrace2 lldb jq time clang-format python3
    g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
    lintian man-db
    # The Windows executable's tests: Wine (64-bit) with an X server of its own.
    wine wine64 xvfb
)

case $what in
run) packages=("${run_packages[@]}") ;;
test) packages=("${run_packages[@]}" "${test_packages[@]}") ;;
*)
    echo "usage: setup.sh [run|test]" >&2
    exit 2
    ;;
esac

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
if ((${#missing[@]})); then
    sudo=""
    [[ $(id -u) -eq 0 ]] || sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

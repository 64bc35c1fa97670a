#!/usr/bin/env bash
# Installs what Ostrel needs to build, run and test on Debian (as root).
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config libgtest-dev
    libvulkan-dev mesa-vulkan-drivers vulkan-tools vulkan-validationlayers glslang-dev glslang-tools spirv-tools
    libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libx264-dev ffmpeg
    liblttng-ust-dev lttng-tools babeltrace2 lldb jq clang-format
    g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
    # The Windows executable's tests: Wine (64-bit) with an X server of its own.
    wine wine64 xvfb
)

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

#!/usr/bin/env bash
# Makes, once, a Debian 13 system with Wine 10 and Xvfb in DIR (default
# /var/cache/ostrel/wine-root), from the Debian mirror that apt is
# configured with, for the -Debug test of the Windows executable
# (tests/windows/wine_debug_test.sh): Debian 12's Wine 8 crashes a debugged
# process that unwinds a C++ exception. About 1.6 GB; an existing one is
# reused. Prints DIR.   wine-root.sh [DIR]
set -euo pipefail
dir=${1:-/var/cache/ostrel/wine-root}
if [[ -x $dir/usr/bin/wine && -x $dir/usr/bin/Xvfb ]]; then
    echo "$dir"
    exit 0
fi
sudo=""
[[ $(id -u) -eq 0 ]] || sudo=sudo
if ! command -v debootstrap >/dev/null; then
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends debootstrap >/dev/null
fi
mirror=${OSTREL_DEBIAN_MIRROR:-$(apt-get indextargets --format '$(REPO_URI)' | grep -m1 '/debian/$' || true)}
mirror=${mirror:-http://deb.debian.org/debian/}
# Made beside, then moved into place: an interrupted run leaves no half root.
$sudo rm -rf "$dir.new"
$sudo mkdir -p "$dir.new"
$sudo debootstrap --variant=minbase --include=wine,wine64,xvfb trixie "$dir.new" "$mirror" >&2
$sudo rm -rf "$dir"
$sudo mv "$dir.new" "$dir"
echo "$dir"

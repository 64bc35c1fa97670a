#!/usr/bin/env bash
# The Debian package: built with CPack from the build folder, unpacked with
# dpkg-deb -x into a scratch folder (not installed), and run from there.
#   package_test.sh BUILD_FOLDER
set -u
build=$(realpath "${1:?usage: package_test.sh BUILD_FOLDER}")
failures=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
pass() { echo "ok: $*"; }

if ! command -v dpkg-deb >/dev/null || ! command -v dpkg-shlibdeps >/dev/null; then
    echo "skipped: dpkg-deb and dpkg-shlibdeps are needed"
    exit 77
fi
(cd "$build" && cpack -G DEB -B "$work/package" >"$work/cpack.txt" 2>&1) || {
    fail "cpack: $(tail -5 "$work/cpack.txt")"
    exit 1
}
deb=$(ls "$work"/package/ostrel_*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
for needed in libvulkan1 mesa-vulkan-drivers libavcodec libavformat libswscale libx264 liblttng-ust; do
    [[ $depends == *"$needed"* ]] || fail "Depends lacks $needed: $depends"
done
pass "the package depends on: $depends"

dpkg-deb -x "$deb" "$work/root"
tool=$work/root/usr/bin/ostrel
[[ -L $tool && $(readlink "$tool") == ../lib/ostrel/ostrel ]] || fail "bin/ostrel is not the relative link: $(ls -l "$tool")"
[[ -f $work/root/usr/lib/ostrel/libostrel-lttng.so ]] || fail "the trace provider is not beside the tool"

listing=$("$tool" -ea 2>/dev/null)
if [[ $? == 0 && $listing =~ ^0:\ .+,\ Vendor\ 0x ]]; then
    pass "the unpacked tool lists the adapters"
else
    fail "-ea from the package: $listing"
fi
# Started through the link, the tool loads the provider from beside itself.
if LD_DEBUG=files "$tool" -ea 2>&1 >/dev/null | grep -q "file=$work/root/usr/lib/ostrel/libostrel-lttng.so "; then
    pass "the tool loads its trace provider from beside itself"
else
    fail "the unpacked tool did not load $work/root/usr/lib/ostrel/libostrel-lttng.so"
fi
output=$(cd "$work" && "$tool" -Resolution 160 90 -Duration 1 packaged.mp4 2>&1)
if [[ $? == 0 && $output =~ ^Elapsed\ Time: ]] && ffprobe -v error "$work/packaged.mp4"; then
    pass "the unpacked tool writes a video: $output"
else
    fail "an encoding run from the package: $output"
fi

if ((failures)); then
    echo "$failures failed"
    exit 1
fi
echo "all passed"

#!/usr/bin/env bash
# What only a machine with an NVIDIA GPU shows, in one go, under five
# minutes: the driver's external memory and semaphore support, the NV12
# bytes that CUDA reads from the exported frames against the readback
# path's (real CUDA, not the stand-in), and a 600-frame 1920x1080 run with
# its statistics (which frame path and encoder it took, and the render,
# readback and convert milliseconds a frame). Not a test: it prints figures,
# and copies them to $OUT when that is set.
#
#   device_check.sh [BUILD]
#
# BUILD holds bin/ostrel and bin/ostrel_mf_tests (default: build/, built when
# they are missing, which needs the packages of scripts/setup.sh). A card
# without NVENC (an H100) is expected to fall back to libx264 before the
# first frame, and the run says so on its debug output.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
say() { echo "== $*"; }
fail() {
    echo "FAIL: $*"
    status=1
}

if [[ ! -x $build/bin/ostrel || ! -x $build/bin/ostrel_mf_tests ]]; then
    say "building in $build"
    timeout 240 "$root/scripts/build.sh" "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null || {
        fail "no build in $build"
        exit 1
    }
fi

say "the GPU"
command -v nvidia-smi >/dev/null && timeout 20 nvidia-smi --query-gpu=name,driver_version,uuid --format=csv,noheader
ldconfig -p | grep -q 'libcuda\.so\.1' || fail "no libcuda.so.1: the CUDA path cannot be taken"

say "Vulkan: external memory and semaphores as file descriptors"
if command -v vulkaninfo >/dev/null; then
    timeout 30 vulkaninfo >"$work/vulkaninfo.txt" 2>&1
    grep -m4 -E 'deviceName|deviceUUID|driverInfo' "$work/vulkaninfo.txt"
    for extension in VK_KHR_external_memory_fd VK_KHR_external_semaphore_fd VK_KHR_timeline_semaphore; do
        grep -q "$extension" "$work/vulkaninfo.txt" && echo "$extension: yes" || echo "$extension: no"
    done
else
    echo "vulkaninfo is not installed; the device test below reports what the driver exports"
fi

say "NV12 through the export, read by CUDA, against the readback path (1920x1080, 1280x720, 642x362)"
timeout 120 "$build/bin/ostrel_mf_tests" --gtest_filter='FrameExportOnCuda.*:FrameExport.RefusesWhatItCannotConvert' \
    >"$work/bit_exact.txt" 2>&1
tail -n 4 "$work/bit_exact.txt"
grep -q '\[  PASSED  \] 2 tests' "$work/bit_exact.txt" || fail "the bytes through CUDA (or the test) did not pass"
grep -q 'SKIPPED' "$work/bit_exact.txt" && fail "the test against real CUDA was skipped: $(grep -m1 -A1 'Skipped' "$work/bit_exact.txt" | tail -n1)"

say "600 frames at 1920x1080, 60 fps"
(cd "$work" && OSTREL_STATISTICS=$work/statistics.json timeout 150 "$build/bin/ostrel" -Duration 10 video.mp4 \
    >run.txt 2>&1) || fail "the run failed: $(tail -n 3 "$work/run.txt")"
tail -n 2 "$work/run.txt"
if [[ -f $work/statistics.json ]]; then
    # One field a line, as the tool writes them.
    grep -E '"(adapter|encoder|frame_path|bytes_copied_per_frame|frames|elapsed_seconds|milliseconds_per_frame)"' \
        "$work/statistics.json"
    grep -q '"frame_path": "cuda"' "$work/statistics.json" || echo "(the frames did not go through CUDA)"
fi
command -v ffprobe >/dev/null &&
    echo "frames in the video: $(ffprobe -v error -select_streams v:0 -count_packets -show_entries stream=nb_read_packets -of csv=p=0 "$work/video.mp4")"

say "the path's own words (a short run under -Debug, which forwards the debug output)"
(cd "$work" && timeout 60 "$build/bin/ostrel" -Debug -Duration 1 short.mp4 2>&1 | grep -iE 'cuda|nvenc|host memory' |
    head -n 5) || echo "(no line: the CUDA path was taken, or -Debug cannot attach here)"

if [[ -n ${OUT:-} ]]; then
    cp "$work"/{bit_exact.txt,run.txt} "$OUT"/ 2>/dev/null
    cp "$work/statistics.json" "$OUT"/ 2>/dev/null
    grep -E 'external|deviceUUID|deviceName' "$work/vulkaninfo.txt" >"$OUT/vulkaninfo.txt" 2>/dev/null
fi
((status)) && echo "device check: something failed (above)" || echo "device check: done"
exit $status

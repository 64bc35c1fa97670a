#!/usr/bin/env bash
# Encoder figures at 1920x1080, 60 fps, 10 Mbit/s over 600 frames, for the
# libx264 presets the writer could use: conversion alone, conversion plus
# encoding plus muxing through the writer, PSNR of the result against the
# source (ffmpeg's psnr filter), the same with a rendering load on the
# producer thread, and ffmpeg encoding its testsrc2 pattern with the same
# settings as the reference. Not a test: it prints figures.
# BUILD names the build folder (build by default).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$root/build}
presets=${PRESETS:-ultrafast superfast veryfast faster}
frames=600 rate=60 bitrate=10000000 size=1920x1080
render_ms=${RENDER_MS:-20}

"$root/scripts/build.sh" "$build" -DOSTREL_BUILD_TESTS=ON >/dev/null
bench=$build/bin/ostrel_encoder_bench
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Two seconds of testsrc2 as the source, played in a loop.
ffmpeg -nostdin -v error -f lavfi -i "testsrc2=s=$size:r=$rate" -frames:v 120 -pix_fmt bgra -f rawvideo "$work/source.bgra"

echo "== the writer: 600 frames of $size BGRA at 10 Mbit/s ($(nproc) cores)"
for preset in $presets; do
    line=$("$bench" "$work/source.bgra" 1920 1080 $frames $rate $bitrate "$preset" "$work/$preset.mp4")
    psnr=$(ffmpeg -nostdin -nostats -i "$work/$preset.mp4" \
        -f rawvideo -pix_fmt bgra -s $size -framerate $rate -stream_loop -1 -i "$work/source.bgra" \
        -lavfi "[1:v]scale=out_color_matrix=bt709:out_range=tv,format=yuv420p[ref];[0:v][ref]psnr=shortest=1" \
        -f null - 2>&1 | sed -n 's/.*PSNR.*average:\([0-9.inf]*\).*/\1/p')
    kbits=$(ffprobe -v error -select_streams v:0 -show_entries stream=bit_rate -of csv=p=0 "$work/$preset.mp4")
    echo "$line  PSNR ${psnr} dB  $((kbits / 1000)) kbit/s"
done

echo "== the writer with ${render_ms} ms of rendering work a frame on the producer thread"
for preset in $presets; do
    "$bench" "$work/source.bgra" 1920 1080 $frames $rate $bitrate "$preset" "$work/load.mp4" "$render_ms"
done

echo "== reference: ffmpeg, testsrc2 to libx264 at the same bit rate and buffer"
for preset in $presets; do
    rtime=$(ffmpeg -nostdin -nostats -benchmark -f lavfi -i "testsrc2=s=$size:r=$rate" -frames:v $frames \
        -c:v libx264 -preset "$preset" -b:v $bitrate -maxrate $bitrate -bufsize $bitrate -f null - 2>&1 |
        sed -n 's/.*rtime=\([0-9.]*\)s.*/\1/p')
    awk -v p="$preset" -v t="$rtime" -v n=$frames 'BEGIN { printf "preset %-9s ffmpeg %6.1f fps (%.2f s)\n", p, n / t, t }'
done

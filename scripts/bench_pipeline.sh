#!/usr/bin/env bash
# The whole pipeline at 1920x1080, 60 fps, 10 Mbit/s over 600 frames, with the
# parts measured alone in the same run: the tool itself (-Duration 10),
# rendering alone (ostrel_render_benchmark), conversion + encoding + muxing
# alone through the writer (ostrel_encoder_bench, on the tool's own picture
# decoded from the video it wrote), and ffmpeg encoding its testsrc2 pattern
# with the writer's preset and bit rate as the reference. Not a test: it
# prints figures. Targets: 25 fps end to end or more, and end-to-end time
# within 1.1x of rendering alone plus encoding alone.
# BUILD names the build folder (build by default).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$root/build}
frames=600 rate=60 bitrate=10000000 width=1920 height=1080
preset=$(sed -n 's/.*FfmpegDefaultPreset = "\([a-z]*\)".*/\1/p' "$root/platform/ffmpeg/FfmpegEncoder.cpp")

"$root/scripts/build.sh" "$build" -DOSTREL_BUILD_TESTS=ON >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

echo "== ${width}x$height, $rate fps, $bitrate bit/s, $frames frames, libx264 $preset; $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"

# The tool, end to end. Its own figure spans BeginWriting to Finalize.
OSTREL_STATISTICS=$work/statistics.json /usr/bin/time -f '%e %U %S' -o time.txt "$build/bin/ostrel" -Duration $((frames / rate)) video.mp4 >run.txt
elapsed=$(sed -n 's/^Elapsed Time: \([0-9.]*\) seconds$/\1/p' run.txt)
[[ -n $elapsed ]] || { echo "the run failed: $(cat run.txt)"; exit 1; }
read -r wall user system <time.txt
written=$(ffprobe -v error -select_streams v:0 -show_entries stream=nb_frames -of csv=p=0 video.mp4)
bits=$(ffprobe -v error -select_streams v:0 -show_entries stream=bit_rate -of csv=p=0 video.mp4)
awk -v e="$elapsed" -v n=$frames -v w="$wall" -v u="$user" -v s="$system" -v f="$written" -v b="$bits" 'BEGIN {
    printf "end to end:    %6.1f fps (%5.2f ms a frame; %.2f s as the tool reports it, %.2f s for the process, CPU %.0f%%; %s frames, %d kbit/s)\n",
        n / e, 1000 * e / n, e, w, 100 * (u + s) / w, f, b / 1000 }'

# Where the run's own time went, measured inside it (the device's busy time,
# the rendering thread's, and the writer's stages on its worker thread).
jq -r '"in the run:    render \(.milliseconds_per_frame.render) ms on the device, submit \(.milliseconds_per_frame.submit) ms; writer: readback \(.milliseconds_per_frame.readback), convert \(.milliseconds_per_frame.convert), encode \(.milliseconds_per_frame.encode), mux \(.milliseconds_per_frame.mux) ms a frame; waited for samples \(.waited_seconds.sample) s, for the writer \(.waited_seconds.writer) s (\(.encoder) on \(.adapter))"' statistics.json

# Rendering alone, the same frames back to back.
render=$("$build/bin/ostrel_render_benchmark" $width $height $frames "$work/frame.png" 7 |
    sed -n 's/^render, [0-9]* frames back to back: \([0-9.]*\) ms per frame$/\1/p')
awk -v r="$render" 'BEGIN { printf "render alone:  %6.1f fps (%5.2f ms a frame)\n", 1000 / r, r }'

# Conversion, encoding and muxing alone, on the tool's picture: its first two
# seconds, decoded, played in a loop.
ffmpeg -nostdin -v error -i video.mp4 -frames:v 120 -pix_fmt bgra -f rawvideo source.bgra
encode=$("$build/bin/ostrel_encoder_bench" source.bgra $width $height $frames $rate $bitrate "$preset" encoded.mp4 |
    sed -n 's/.*convert+encode+mux *[0-9.]* fps ( *\([0-9.]*\) ms).*/\1/p')
rm -f source.bgra
awk -v c="$encode" 'BEGIN { printf "encode alone:  %6.1f fps (%5.2f ms a frame: conversion, encoding, muxing)\n", 1000 / c, c }'

awk -v e="$elapsed" -v n=$frames -v r="$render" -v c="$encode" 'BEGIN {
    sum = r + c; ms = 1000 * e / n
    printf "render + encode alone: %5.2f ms a frame (%.1f fps); end to end takes %.2fx that (target 1.1x or less), %s 25 fps\n",
        sum, 1000 / sum, ms / sum, (n / e >= 25) ? "meets" : "MISSES" }'

# The reference: ffmpeg's own pattern through libx264 with the same settings.
rtime=$(ffmpeg -nostdin -nostats -benchmark -f lavfi -i "testsrc2=s=${width}x$height:r=$rate" -frames:v $frames \
    -c:v libx264 -preset "$preset" -b:v $bitrate -maxrate $bitrate -bufsize $bitrate -f null - 2>&1 |
    sed -n 's/.*rtime=\([0-9.]*\)s.*/\1/p')
awk -v t="$rtime" -v n=$frames 'BEGIN { printf "ffmpeg testsrc2 -> libx264: %6.1f fps (%.2f s)\n", n / t, t }'

#!/usr/bin/env bash
# Makes the README's pictures with the tool's own renderer: one 960x540 frame
# of the picture (docs/picture.png) and a strip of its two shapes, round and
# diamond, side by side (docs/phases.png). The frames are the ones the
# encoding run draws at those times (60 fps).
# BUILD names the build folder (build by default).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$root/build}
"$root/scripts/build.sh" "$build" -DOSTREL_BUILD_TESTS=ON >/dev/null
render=$build/bin/ostrel_render_frame
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$root/docs"

# The cells are fully round at 11.1 s and fully diamond at 3.7 s.
round=667 diamond=222 picture=1500

# 256 colours with ordered dithering keep each file well under 500 KB and
# look the same at this size.
palette="split[a][b];[a]palettegen=max_colors=256[p];[b][p]paletteuse=dither=bayer:bayer_scale=3"
png() { # png WIDTH HEIGHT RAW PNG
    ffmpeg -nostdin -v error -y -f rawvideo -pix_fmt bgra -s "$1x$2" -i "$3" -vf "$palette" -frames:v 1 "$4"
}
"$render" 960 540 60000 1000 $picture "$work/picture.bgra"
png 960 540 "$work/picture.bgra" "$root/docs/picture.png"
"$render" 480 270 60000 1000 $round "$work/round.bgra"
"$render" 480 270 60000 1000 $diamond "$work/diamond.bgra"
ffmpeg -nostdin -v error -y -f rawvideo -pix_fmt bgra -s 480x270 -i "$work/round.bgra" \
    -f rawvideo -pix_fmt bgra -s 480x270 -i "$work/diamond.bgra" \
    -filter_complex "[0:v][1:v]hstack=inputs=2,$palette" -frames:v 1 "$root/docs/phases.png"
ls -l "$root/docs/picture.png" "$root/docs/phases.png"

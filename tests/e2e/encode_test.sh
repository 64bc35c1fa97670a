#!/usr/bin/env bash
# The encoding run, end to end: runs the built tool on small sizes and checks
# the videos it writes with ffprobe and ffmpeg, and its failure lines.
#   encode_test.sh OSTREL_BINARY [RENDER_FRAME_BINARY]
# RENDER_FRAME_BINARY (ostrel_render_frame) renders the reference frame for
# the picture check; without it that check is skipped.
set -u
OSTREL=${1:?usage: encode_test.sh OSTREL_BINARY [RENDER_FRAME_BINARY]}
RENDER_FRAME=${2:-}
OSTREL=$(realpath "$OSTREL")
[[ -n $RENDER_FRAME ]] && RENDER_FRAME=$(realpath "$RENDER_FRAME")
failures=0
work=$(mktemp -d)
trap 'chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"' EXIT
cd "$work"

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
pass() { echo "ok: $*"; }

# run ARGS...: runs the tool with a time limit (a thread left behind would
# keep the process from ending); sets $output and $status.
run() {
    output=$(timeout 60 "$OSTREL" "$@" 2>"$work/stderr")
    status=$?
}

# run_ok NAME ARGS...: the run succeeds and prints only the elapsed time.
run_ok() {
    local name=$1
    shift
    run "$@"
    if [[ $status != 0 || ! "$output" =~ ^Elapsed\ Time:\ [0-9]+\.[0-9]{2}\ seconds$ ]]; then
        fail "$name: exit $status, output: $output"
        return 1
    fi
}

# probe FILE ENTRIES: one ffprobe value (ENTRIES like stream=codec_name).
probe() { ffprobe -v error -select_streams v:0 -show_entries "$2" -of default=nw=1:nk=1 "$1" | head -n1; }

# check_video NAME FILE WIDTH HEIGHT RATE_N RATE_D FRAMES [per-frame durations: yes|no]
# Codec, size, frame count, the first frame a key frame, and every
# presentation time within half a tick of the container's time base of
# index * D / N (so nothing drifts); with durations, each frame lasts until
# the next one starts and the last until the video's end.
check_video() {
    local name=$1 file=$2 width=$3 height=$4 rate_n=$5 rate_d=$6 frames=$7 durations=${8:-yes}
    local codec size time_base decoded problems
    codec=$(probe "$file" stream=codec_name)
    size=$(probe "$file" stream=width)x$(probe "$file" stream=height)
    time_base=$(probe "$file" stream=time_base)
    decoded=$(ffprobe -v error -select_streams v:0 -count_frames -show_entries stream=nb_read_frames \
        -of default=nw=1:nk=1 "$file")
    [[ $codec == h264 ]] || { fail "$name: codec $codec"; return; }
    [[ $size == "${width}x$height" ]] || { fail "$name: size $size"; return; }
    [[ $decoded == "$frames" ]] || { fail "$name: $decoded frames decoded, expected $frames"; return; }
    # Packets in presentation order: pts, duration, flags.
    problems=$(ffprobe -v error -select_streams v:0 -show_entries packet=pts,duration,flags -of csv=p=0 "$file" |
        sort -t, -k1,1n | awk -F, -v n="$rate_n" -v d="$rate_d" -v tb="$time_base" -v frames="$frames" \
            -v durations="$durations" '
        BEGIN { split(tb, t, "/"); ticks = t[2] / t[1] }  # ticks per second
        { pts[NR - 1] = $1; duration[NR - 1] = $2; flags[NR - 1] = $3 }
        END {
            if (NR != frames) { print NR " packets"; exit }
            if (flags[0] !~ /K/) print "the first frame is no key frame"
            for (i = 0; i < NR; ++i) {
                exact = i * d * ticks / n
                if (pts[i] - exact > 0.5 + 1e-6 || exact - pts[i] > 0.5 + 1e-6) {
                    print "frame " i " at " pts[i] ", expected " exact; exit
                }
            }
            if (durations != "yes") exit
            for (i = 0; i + 1 < NR; ++i)
                if (pts[i] + duration[i] != pts[i + 1]) { print "frame " i " lasts " duration[i] ", next at " pts[i + 1]; exit }
            end = NR * d * ticks / n
            last = pts[NR - 1] + duration[NR - 1]
            if (last - end > 0.5 + 1e-6 || end - last > 0.5 + 1e-6) print "the video ends at " last ", expected " end
        }')
    if [[ -n $problems ]]; then
        fail "$name: $problems"
    else
        pass "$name: h264 ${width}x$height, $frames frames at $rate_n/$rate_d, times exact in $time_base"
    fi
}

# psnr_yuv VIDEO FRAME REFERENCE WIDTH HEIGHT READ_AS FILTER MATRIX RANGE:
# PSNR (average over Y, U and V) of the decoded frame against the reference
# picture read as READ_AS (bgra: as written), after FILTER, converted to
# 4:2:0 with MATRIX in RANGE, as the encoder converts it.
psnr_yuv() {
    ffmpeg -nostdin -nostats -i "$1" -f rawvideo -pix_fmt "$6" -s "$4x$5" -i "$3" -lavfi \
        "[0:v]select=eq(n\,$2)[a];[1:v]${7}scale=out_color_matrix=$8:out_range=$9,format=yuv420p[b];[a][b]psnr" \
        -f null - 2>&1 | sed -n 's/.*PSNR.* average:\([0-9.inf]*\).*/\1/p'
}

## Rates: the default 60000/1000, 30000/1001 and 25.
if run_ok "default rate" -Resolution 320 180 -Duration 2 rate60.mp4; then
    pass "a run exits with code 0 and prints \"$output\""
    check_video "60000/1000 for 2 s" rate60.mp4 320 180 60000 1000 120
fi
if run_ok "30000/1001" -Resolution 320 180 -Rate 30000/1001 -Duration 3 rate2997.mp4; then
    check_video "30000/1001 for 3 s" rate2997.mp4 320 180 30000 1001 90
    # Frame 1 starts 333666 units (100 ns) in, rounded to the container's ticks.
    time_base=$(probe rate2997.mp4 stream=time_base)
    second=$(ffprobe -v error -select_streams v:0 -show_entries packet=pts -of csv=p=0 rate2997.mp4 | sort -n | sed -n 2p)
    expected=$(awk -v tb="$time_base" 'BEGIN { split(tb, t, "/"); printf "%d", 333666 * t[2] / t[1] / 1e7 + 0.5 }')
    if [[ $second == "$expected" ]]; then
        pass "frame 1 at 333666 units: $second in $time_base"
    else
        fail "frame 1 at $second in $time_base, expected $expected"
    fi
fi
if run_ok "rate 25" -Resolution 320 180 -Rate 25 -Duration 2 rate25.mp4; then
    check_video "25/1 for 2 s" rate25.mp4 320 180 25 1 50
fi

## Containers, by extension.
for extension in mov m4v mkv; do
    if run_ok ".$extension" -Resolution 320 180 -Rate 30000/1001 -Duration 1 "video.$extension"; then
        format=$(ffprobe -v error -show_entries format=format_name -of default=nw=1:nk=1 "video.$extension")
        case $extension in
        mkv) [[ $format == matroska* ]] || fail ".mkv written as $format" ;;
        *) [[ $format == mov,mp4* ]] || fail ".$extension written as $format" ;;
        esac
        # Matroska stores one default duration per track, not one per frame.
        durations=yes
        [[ $extension == mkv ]] && durations=no
        check_video ".$extension ($format)" "video.$extension" 320 180 30000 1001 30 $durations
    fi
done

## Colour: BT.709, limited range, signalled in the stream.
colour=$(ffprobe -v error -select_streams v:0 -show_entries stream=pix_fmt,color_range,color_space,color_primaries,color_transfer \
    -of default=nw=1 rate60.mp4 | sort | tr '\n' ' ')
if [[ $colour == "color_primaries=bt709 color_range=tv color_space=bt709 color_transfer=bt709 pix_fmt=yuv420p " ]]; then
    pass "BT.709 limited range 4:2:0 is signalled"
else
    fail "colour signalled: $colour"
fi

## Bit rate: near -Bitrate over a few seconds.
if run_ok "bit rate" -Resolution 640 360 -Rate 30 -Bitrate 2000000 -Duration 4 bitrate.mp4; then
    bit_rate=$(probe bitrate.mp4 stream=bit_rate)
    if ((bit_rate > 1600000 && bit_rate < 2400000)); then
        pass "the stream's bit rate, $bit_rate bit/s, is near 2000000"
    else
        fail "the stream's bit rate is $bit_rate bit/s for -Bitrate 2000000"
    fi
fi

## The picture: a decoded frame matches the frame rendered for its time, in
## colour order, range and orientation.
if [[ -n $RENDER_FRAME ]]; then
    frame=30
    if ! run_ok "picture" -Resolution 640 360 -Duration 1 picture.mp4; then
        :
    elif ! "$RENDER_FRAME" 640 360 60000 1000 $frame reference.bgra; then
        fail "the reference frame could not be rendered"
    else
        good=$(psnr_yuv picture.mp4 $frame reference.bgra 640 360 bgra "" bt709 tv)
        flipped=$(psnr_yuv picture.mp4 $frame reference.bgra 640 360 bgra vflip, bt709 tv)
        swapped=$(psnr_yuv picture.mp4 $frame reference.bgra 640 360 rgba "" bt709 tv)
        full=$(psnr_yuv picture.mp4 $frame reference.bgra 640 360 bgra "" bt709 pc)
        bt601=$(psnr_yuv picture.mp4 $frame reference.bgra 640 360 bgra "" bt601 tv)
        next=$(psnr_yuv picture.mp4 $((frame + 1)) reference.bgra 640 360 bgra "" bt709 tv)
        figures="$good dB; flipped $flipped, red and blue swapped $swapped, full range $full, BT.601 $bt601, the next frame $next"
        # Each wrong reading must score clearly lower than the right one.
        if awk -v g="$good" -v f="$flipped" -v s="$swapped" -v r="$full" -v b="$bt601" -v n="$next" \
            'BEGIN { exit !(g >= 35 && f < g - 10 && s < g - 10 && r < g - 5 && b < g - 2 && n < g - 5) }'; then
            pass "frame $frame matches the picture rendered for its time: $figures"
        else
            fail "frame $frame against the picture rendered for its time: $figures"
        fi
    fi
else
    echo "skipped: the picture check needs the reference renderer"
fi

## The encoder's PSNR in the statistics, asked for with OSTREL_QUALITY=1:
## within 0.5 dB of ffmpeg's psnr filter
## on the same video against every frame rendered for its time, converted to
## 4:2:0 as the writer converts it (bilinear: the chroma depends on it).
if [[ -n $RENDER_FRAME ]] && command -v jq >/dev/null; then
    rate=10
    if OSTREL_QUALITY=1 OSTREL_STATISTICS=$work/quality.json run_ok "quality" -Resolution 320 180 -Rate $rate -Duration 2 quality.mp4; then
        : >rendered.bgra
        for ((index = 0; index < 2 * rate; ++index)); do
            "$RENDER_FRAME" 320 180 $rate 1 $index frame.bgra && cat frame.bgra >>rendered.bgra || break
        done
        measured=$(ffmpeg -nostdin -nostats -i quality.mp4 -f rawvideo -pix_fmt bgra -s 320x180 -framerate $rate \
            -i rendered.bgra -lavfi "[1:v]scale=flags=bilinear:out_color_matrix=bt709:out_range=tv,format=yuv420p[b];[0:v][b]psnr" \
            -f null - 2>&1 | sed -n 's/.*PSNR y:\([0-9.]*\) .* average:\([0-9.]*\) .*/\1 \2/p')
        reported=$(jq -r '"\(.quality.psnr_y) \(.quality.psnr_average)"' quality.json)
        if awk -v m="$measured" -v r="$reported" -v s="$(jq .quality.ssim quality.json)" 'BEGIN { split(m, a); split(r, b)
            exit !(a[1] > 30 && (a[1] - b[1]) ^ 2 <= 0.25 && (a[2] - b[2]) ^ 2 <= 0.25 && s > 0.9 && s <= 1) }'; then
            pass "the reported PSNR (Y, average) $reported dB against ffmpeg's $measured dB"
        else
            fail "the reported PSNR (Y, average) $reported dB against ffmpeg's ${measured:-none}"
        fi
    fi
else
    echo "skipped: the PSNR check needs the reference renderer and jq"
fi

## Failures: one line, exit code 1, the process ends.
# expect_failure NAME EXPECTED_LINE ARGS...
expect_failure() {
    local name=$1 expected=$2
    shift 2
    run "$@"
    if [[ $status != 1 || "$output" != "$expected" ]]; then
        fail "$name: exit $status, output: $output (expected $expected)"
    else
        pass "$name: $expected"
    fi
}
expect_failure "an adapter that does not exist" "Exception: 0x887A0002" -AdapterIndex 99 -Resolution 64 64 -Duration 1 a.mp4
[[ -e a.mp4 ]] && fail "the run without an adapter left a.mp4"
expect_failure "a folder that does not exist" "Exception: 0x80070003" -Resolution 64 64 -Duration 1 missing/b.mp4
expect_failure "an extension of no video container" "Exception: 0xC00D36C4" -Resolution 64 64 -Duration 1 c.xyz
[[ -e c.xyz ]] && fail "the run with an unknown extension left c.xyz"
expect_failure "-Duration 0 writes no samples" "Exception: 0xC00D4A44" -Resolution 64 64 -Duration 0 d.mp4
[[ -e d.mp4 ]] && fail "-Duration 0 left d.mp4 behind"

# A folder that cannot take the file: a read-only one for a user; root
# writes anywhere chmod forbids, but not into sysfs.
if [[ $(id -u) != 0 ]]; then
    mkdir readonly && chmod 555 readonly
    readonly_path=readonly/e.mp4
elif [[ -d /sys/kernel && ! -w /sys/kernel/e.mp4 ]] && ! touch /sys/kernel/e.mp4 2>/dev/null; then
    readonly_path=/sys/kernel/e.mp4
else
    readonly_path=
fi
if [[ -n $readonly_path ]]; then
    expect_failure "a read-only folder ($(dirname $readonly_path))" "Exception: 0x80070005" -Resolution 64 64 -Duration 1 "$readonly_path"
else
    echo "skipped: no folder here that this user cannot write to"
fi

## No output path: the syntax, and nothing else happens.
mkdir quiet && cd quiet
run -Resolution 64 64 -Duration 1
cd "$work"
if [[ $status == 0 && "$output" == "Syntax: Ostrel [options] <output-path>"* && -z $(ls -A quiet) ]]; then
    pass "no output path prints the syntax and writes nothing"
else
    fail "no output path: exit $status, files: $(ls -A quiet), output: $output"
fi

if ((failures)); then
    echo "$failures failed"
    exit 1
fi
echo "all passed"

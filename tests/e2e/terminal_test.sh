#!/usr/bin/env bash
# What a run shows beside its one line: a status line and a summary of where
# the time went on standard error when that is a terminal, nothing anywhere
# when it is not, and the figures as JSON where OSTREL_STATISTICS names a file.
#   terminal_test.sh OSTREL_BINARY [FAILING_CALLS_LIBRARY]
set -u
OSTREL=$(realpath "${1:?usage: terminal_test.sh OSTREL_BINARY [FAILING_CALLS_LIBRARY]}")
FAILING=${2:+$(realpath "$2")}
failures=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
pass() { echo "ok: $*"; }

if ! command -v script >/dev/null; then
    echo "skipped: script (util-linux) is needed for a terminal"
    exit 77
fi

# Standard error on a terminal (script's), standard output on a file.
# Long enough for a few redraws on a fast machine: one comes every 250 ms.
script -qec "OSTREL_QUALITY=1 '$OSTREL' -Resolution 320 180 -Duration 5 tty.mp4 >stdout.txt" /dev/null >terminal.txt
if [[ $(cat stdout.txt) =~ ^Elapsed\ Time:\ [0-9]+\.[0-9]{2}\ seconds$ && $(wc -l <stdout.txt) == 1 ]]; then
    pass "standard output holds exactly the one line"
else
    fail "standard output with a terminal on standard error: $(cat stdout.txt)"
fi
# screen WIDTH FILE: what a terminal WIDTH columns wide shows after FILE's
# bytes: carriage returns, erasing to the end of the line (ESC [ K) and the
# wrap at the last column played as a terminal plays them.
screen() {
    python3 - "$1" "$2" <<'PLAY'
import sys
width, data = int(sys.argv[1]), open(sys.argv[2], 'rb').read().decode('utf-8', 'replace')
lines, column, at = [[]], 0, 0
while at < len(data):
    if data.startswith('\x1b[K', at):
        del lines[-1][column:]
        at += 3
        continue
    character = data[at]
    at += 1
    if character == '\r':
        column = 0
    elif character == '\n':
        lines.append([])
        column = 0
    else:
        if column >= width:
            lines.append([])
            column = 0
        line = lines[-1]
        line.extend(' ' * (column + 1 - len(line)))
        line[column] = character
        column += 1
print('\n'.join(''.join(line).rstrip() for line in lines))
PLAY
}
# plain FILE: each redraw on a line of its own, without escape sequences.
plain() { tr '\r' '\n' <"$1" | sed 's/\x1b\[K//g'; }

# The status lines are redrawn with carriage returns and the last is erased.
status=$(plain terminal.txt | grep -E '^frame [0-9]+/300  [0-9]+\.[0-9] fps  [0-9]+ s  ETA [0-9]+ s  speed [0-9.]+x( +[0-9.]+ Mbit/s)? *$' | head -n1)
if [[ -n $status ]]; then
    pass "the terminal showed the status line: $status"
else
    fail "no status line on the terminal: $(od -c terminal.txt | head -5)"
fi
# The summary: what the run achieved, where its frames went and where the
# time went, and the encoder's error (asked for), on lines that fit 80
# columns (a line that goes on is indented).
summary=$(screen 80 terminal.txt | grep -v '^$')
expected=(
    '^300 frames written in [0-9.]+ s: [0-9.]+ fps, [0-9.]+ ms a frame, speed [0-9.]+x$'
    '^bit rate [0-9.]+ Mbit/s, file [0-9,]+ bytes$'
    '^.+, libx264 [a-z]+, in-place, 0 bytes copied a frame$'
    '^render [0-9.]+ ms, readback [0-9.]+ ms, convert [0-9.]+ ms, encode [0-9.]+ ms, mux [0-9.]+ ms a frame; waited [0-9.]+ s$'
    '^latency p50 [0-9.]+ ms, p90 [0-9.]+ ms, p99 [0-9.]+ ms, max [0-9.]+ ms; CPU [0-9.]+ ms a frame$'
    '^PSNR Y [0-9.]+ dB, average [0-9.]+ dB, SSIM 0\.[0-9]{4}$'
)
mapfile -t shown < <(awk '/^  / { line = line " " substr($0, 3); next } { if (NR > 1) print line; line = $0 } END { print line }' <<<"$summary")
missing=""
for index in "${!expected[@]}"; do
    [[ ${shown[index]:-} =~ ${expected[index]} ]] || missing+=" line $((index + 1)) (${shown[index]:-none})"
done
longest=$(awk '{ if (length($0) > n) n = length($0) } END { print n + 0 }' <<<"$summary")
if [[ -z $missing && ${#shown[@]} == "${#expected[@]}" ]] && ((longest <= 80)); then
    pass "the terminal showed the run's summary in lines of at most $longest characters: ${shown[*]}"
else
    fail "the summary on the terminal:$missing: $summary"
fi
if plain terminal.txt | tail -n1 | grep -qE '^ *$'; then
    pass "the status line is erased at the end"
else
    fail "the terminal ends with: $(plain terminal.txt | tail -n1)"
fi

# A pane 40 columns wide: the status line is cut to fit, so that the redraws
# stay on one line and the summary starts on the screen's first line; 120
# columns show the whole status line.
for columns in 40 120; do
    script -qec "stty cols $columns rows 24; '$OSTREL' -Resolution 320 180 -Duration 6 cols.mp4 >/dev/null" /dev/null >cols.txt
    shown=$(screen "$columns" cols.txt)
    longest=$(plain cols.txt | awk '/^frame / { if (length($0) > n) n = length($0) } END { print n + 0 }')
    redraws=$(plain cols.txt | grep -c '^frame ')
    widest=$(awk '{ if (length($0) > n) n = length($0) } END { print n + 0 }' <<<"$shown")
    if [[ $(head -n1 <<<"$shown") =~ ^360\ frames\ written ]] && ((redraws >= 1 && longest < columns)) &&
        ((widest <= columns)) && ! grep -q '^frame ' <<<"$shown"; then
        pass "at $columns columns: $redraws redraws on one line, of at most $longest characters"
    else
        fail "at $columns columns ($redraws redraws, $longest characters): $shown"
    fi
done
if plain cols.txt | grep -qE '^frame [0-9]+/360 .* speed [0-9.]+x  [0-9.]+ Mbit/s$'; then
    pass "120 columns show the speed and the bit rate so far"
else
    fail "the status line at 120 columns: $(plain cols.txt | grep '^frame ' | tail -n1)"
fi

# Ctrl-C typed on the terminal: the summary of the frames done, marked as
# interrupted, and nothing left of the terminal's ^C echo on the screen.
(sleep 3; printf '\003') | script -qec "stty cols 80 rows 24 echoctl; '$OSTREL' -Resolution 320 180 -Duration 60 int.mp4" /dev/null >int.txt
shown=$(screen 80 int.txt)
if [[ $(head -n1 <<<"$shown") =~ ^interrupted:\ [0-9]+\ frames\ written\ in ]] && ! grep -q '\^C' <<<"$shown" &&
    grep -qx 'Exception: 0x800704C7' <<<"$shown" && [[ ! -e int.mp4 ]]; then
    pass "Ctrl-C: $(head -n1 <<<"$shown")"
else
    fail "Ctrl-C on the terminal showed: $shown"
fi

# At most four redraws a second (one more for the start of the count).
redraws=$(plain terminal.txt | grep -cE '^frame ')
elapsed=$(sed -n 's/^Elapsed Time: \([0-9.]*\) seconds$/\1/p' stdout.txt)
if awk -v r="$redraws" -v e="$elapsed" 'BEGIN { exit !(r >= 1 && r <= 4 * e + 1) }'; then
    pass "$redraws redraws in $elapsed s"
else
    fail "$redraws redraws in $elapsed s"
fi

# Both streams on the terminal: the last line stands alone, after the erased
# status line and the summary.
script -qec "'$OSTREL' -Resolution 320 180 -Duration 2 both.mp4" /dev/null >both.txt
last=$(plain both.txt | grep -v '^ *$' | tail -n1)
if [[ $last =~ ^Elapsed\ Time:\ [0-9]+\.[0-9]{2}\ seconds$ ]] && ! grep -q 'frame.*Elapsed' both.txt; then
    pass "the run's last line stands alone on the terminal"
else
    fail "the terminal with both streams ends with: $last"
fi

# Not a terminal: nothing but the one line.
"$OSTREL" -Resolution 320 180 -Duration 1 file.mp4 >stdout.txt 2>stderr.txt
if [[ ! -s stderr.txt && $(wc -l <stdout.txt) == 1 ]]; then
    pass "without a terminal nothing extra is written"
else
    fail "without a terminal: stderr $(od -c stderr.txt | head -3), stdout $(cat stdout.txt)"
fi

## The figures as JSON.
if command -v jq >/dev/null; then
    OSTREL_STATISTICS=$work/stats.json "$OSTREL" -Resolution 320 180 -Rate 30 -Duration 2 stats.mp4 >stdout.txt 2>stderr.txt
    frames=$(ffprobe -v error -select_streams v:0 -count_frames -show_entries stream=nb_read_frames -of csv=p=0 stats.mp4)
    if ! jq -e . stats.json >/dev/null 2>&1; then
        fail "the statistics are no JSON: $(cat stats.json)"
    elif [[ $(jq .frames stats.json) != "$frames" || $(jq -r .version stats.json) == null ||
            $(jq -c .frame_rate stats.json) != "[30,1]" || $(jq .width stats.json) != 320 ]]; then
        fail "the statistics do not describe the run ($frames frames): $(cat stats.json)"
    elif ! jq -e '[.milliseconds_per_frame | .render, .submit, .readback, .convert, .encode, .mux] | all(. > 0)' stats.json >/dev/null; then
        fail "a stage took no time: $(jq -c .milliseconds_per_frame stats.json)"
    # lavapipe's memory is the host's: the writer reads each frame where the
    # device drew it.
    elif [[ $(jq -r .frame_path stats.json) != in-place || $(jq .bytes_copied_per_frame stats.json) != 0 ]]; then
        fail "the frames did not reach the encoder in place: $(jq -c '[.frame_path, .bytes_copied_per_frame]' stats.json)"
    # The rendering thread's figures fit in the run, and so do the writer's
    # worker's; together no more than two threads' worth.
    elif ! jq -e '(.milliseconds_per_frame.submit * .frames / 1000 + .waited_seconds.sample + .waited_seconds.writer) <= .elapsed_seconds + 0.01 and
                  ((.milliseconds_per_frame | .readback + .convert + .encode + .mux) * .frames / 1000) <= .elapsed_seconds + 0.01' stats.json >/dev/null; then
        fail "the stage times add up to more than the run: $(cat stats.json)"
    else
        pass "the statistics hold the run's figures: $(jq -c .milliseconds_per_frame stats.json)"
    fi
    # What the run achieved: rates from the frames and the time, the file's
    # size, the stream's bytes within it, latencies in order and within the
    # run, processor time that two cores could give, and no measure of the
    # encoder's error unless asked for (OSTREL_QUALITY=1; encode_test.sh).
    size=$(stat -c %s stats.mp4)
    cores=$(nproc)
    if jq -e --argjson size "$size" --argjson cores "$cores" '
        (.fps - .frames / .elapsed_seconds | fabs) <= 0.01 * .fps and
        (.speed - .frames / 30 / .elapsed_seconds | fabs) <= 0.01 * .speed and
        .file_bytes == $size and .bitrate_achieved * .frames / 30 / 8 <= $size and
        .bitrate_achieved * .frames / 30 / 8 >= 0.9 * $size and
        (.latency_ms | 0 < .p50 and .p50 <= .p90 and .p90 <= .p99 and .p99 <= .max) and
        .latency_ms.max <= .elapsed_seconds * 1000 and
        .cpu_ms_per_frame > 0 and .cpu_ms_per_frame * .frames / 1000 <= .elapsed_seconds * $cores + 0.5 and
        (.render_on_device | type == "boolean") and (.milliseconds_per_frame | has("render_on_device") | not) and
        (has("quality") | not)' stats.json >/dev/null; then
        pass "the statistics say what the run achieved: $(jq -c '[.fps, .speed, .bitrate_achieved, .file_bytes, .latency_ms, .cpu_ms_per_frame]' stats.json)"
    else
        fail "the achieved figures against a $size-byte file: $(cat stats.json)"
    fi
    [[ ! -s stderr.txt && $(wc -l <stdout.txt) == 1 ]] || fail "statistics changed the output: $(cat stdout.txt stderr.txt)"
    # Without the variable, no file appears; a file that cannot be written is
    # said on standard error and the run still succeeds.
    mkdir quiet && (cd quiet && "$OSTREL" -Resolution 64 64 -Duration 1 q.mp4 >/dev/null 2>&1)
    [[ $(ls quiet) == q.mp4 ]] || fail "a run without OSTREL_STATISTICS left: $(ls quiet)"
    mkfifo stats.fifo
    OSTREL_STATISTICS=$work/stats.fifo timeout 60 "$OSTREL" -Resolution 64 64 -Duration 1 fifo.mp4 >stdout.txt 2>stderr.txt
    status=$?
    if [[ $status == 0 && -s fifo.mp4 ]] && grep -q '^Ostrel: statistics not written to .*stats.fifo: 0x8007' stderr.txt; then
        pass "statistics that cannot be written are said on standard error, without blocking"
    else
        fail "statistics into a FIFO: exit $status, $(cat stderr.txt)"
    fi

    # The file is replaced whole or not at all: a disk that errs while the
    # figures are written leaves the earlier ones, and nothing beside them.
    if [[ -n $FAILING ]]; then
        mkdir kept && printf '{"earlier": true}' >kept/stats.json
        folder=$(realpath kept)
        for call in write fsync; do
            OSTREL_FAIL=$call OSTREL_FAIL_FOLDER=$folder LD_PRELOAD=$FAILING OSTREL_STATISTICS=$folder/stats.json \
                timeout 60 "$OSTREL" -Resolution 64 64 -Duration 1 kept.mp4 >stdout.txt 2>stderr.txt
            if [[ $(cat kept/stats.json) == '{"earlier": true}' && $(ls -A kept) == stats.json ]] &&
                grep -q '^Ostrel: statistics not written to .*stats.json: 0x8007001D' stderr.txt; then
                pass "statistics whose $call fails leave the earlier file whole (a write fault)"
            else
                fail "a failing $call of the statistics: $(ls -A kept), $(cat kept/stats.json), $(cat stderr.txt)"
            fi
        done
    fi
    # A link at the name is replaced by the file; what it named is untouched.
    printf 'victim' >victim.txt
    ln -s victim.txt linked.json
    OSTREL_STATISTICS=$work/linked.json "$OSTREL" -Resolution 64 64 -Duration 1 linked.mp4 >stdout.txt 2>stderr.txt
    if [[ $(cat victim.txt) == victim && ! -L linked.json ]] && jq -e .frames linked.json >/dev/null; then
        pass "statistics replace a link at their name, never what it names"
    else
        fail "statistics at a link: $(ls -l linked.json), victim: $(cat victim.txt), $(cat stderr.txt)"
    fi
else
    echo "skipped: the statistics check needs jq"
fi

if ((failures)); then
    echo "$failures failed"
    exit 1
fi
echo "all passed"

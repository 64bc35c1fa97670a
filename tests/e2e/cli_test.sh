#!/usr/bin/env bash
# Runs the built tool and compares what it prints, exactly.
set -u
OSTREL=${1:?usage: cli_test.sh OSTREL_BINARY}
root=$(cd "$(dirname "$0")/../.." && pwd)
failures=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

syntax='Syntax: Ostrel [options] <output-path>

Options: 
  -DisableDebugOutput - Disable forward of debug output to console output in debug mode (should appear before -Debug)
  -Debug[:<Normal|Full|<Value>>] - Enable self-debugging capability with specific minidump type
  -EnumerateAdapters - Enumerate DXGI adapters and exit
  -AdapterIndex <index> - Specify DXGI adapter index (default is 0)
  -Resolution <width> <height> - Specify resolution of generated video (default is 1920x1080)
  -Rate <frame-rate-numerator>[/<frame-rate-denominator>] - Specify frame rate of generated video (default is 60)
  -Duration <duration> - Specify duration of generated video in seconds (default is 60)
  -Bitrate <bitrate> - Specify bitrate of generated video in seconds (default is 10 MBps)'

# expect NAME EXPECTED_STDOUT EXPECTED_EXIT_CODE ARGS...
expect() {
    local name=$1 expected=$2 code=$3
    shift 3
    local output status
    output=$("$OSTREL" "$@" 2>"$work/stderr")
    status=$?
    if [[ "$output" != "$expected" || "$status" != "$code" ]]; then
        echo "FAIL: $name (exit $status, expected $code)"
        diff <(printf '%s\n' "$expected") <(printf '%s\n' "$output") | head -20
        failures=$((failures + 1))
    else
        echo "ok: $name"
    fi
}

# expect_stderr NAME PATTERN: the last run's standard error matches PATTERN.
expect_stderr() {
    if ! grep -qE "$2" "$work/stderr"; then
        echo "FAIL: $1: standard error was: $(cat "$work/stderr")"
        failures=$((failures + 1))
    fi
}

expect "no arguments print the syntax" "$syntax" 0
for option in -? -syntax -SYNTAX -Syntax:anything; do
    expect "$option prints the syntax" "$syntax" 0 "$option"
done
for option in -h -H -help --help --HELP; do
    expect "$option prints the syntax as -? does" "$syntax" 0 "$option"
done
version="Ostrel $(sed -n 's/^project(Ostrel VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")"
for option in --version -Version -version; do
    expect "$option prints the version" "$version" 0 "$option"
done
expect "the version starts no run" "$version" 0 -Resolution 64 36 -Version out.mp4
[[ ! -e out.mp4 ]] || { echo "FAIL: -Version wrote a video"; failures=$((failures + 1)); }
expect "a mode after the output path still wins" "$syntax" 0 out.mp4 -?
expect "the syntax mode prints no warnings" "$syntax" 0 a b -unknown -?
expect "the first mode wins" "$syntax" 0 -? -ea
expect "an option value of a mode is ignored" "$syntax" 0 -?:x -ea

no_adapter='Exception: 0x887A0002'
# A run that prints its failure line exits 1.
expect "/? is an output path, of no known container" 'Exception: 0xC00D36C4' 1 -Resolution 64 36 '/?'
expect_stderr "a failure line is followed by its words on standard error" \
    '^Ostrel: no video container for this extension; use one of \.mp4 \.m4v \.mov \.mkv \.3gp \.3g2$'
expect "unknown arguments only warn on the encoding path" \
"Warning, command line argument not recognized: b.mp4
Warning, command line option argument not recognized: foo
Warning, command line option argument not recognized: 
$no_adapter" 1 a.mp4 b.mp4 -foo:bar - -AdapterIndex 99
expect_stderr "a missing adapter is named" '^Ostrel: no adapter 99; `ostrel -ea` lists them$'
# -Debug itself is covered by debug_test.sh.
expect "self-debugging options are no warnings" "$no_adapter" 1 -DISABLEDEBUGOUTPUT out.mp4 -ai 99
expect "arguments with blanks and quotes survive" \
"Warning, command line argument not recognized: two \"quoted\" words\\
$no_adapter" 1 out.mp4 'two "quoted" words\' -ai 99
expect "arguments that are not UTF-8 come back as they were given" \
"Warning, command line argument not recognized: caf"$'\xe9 \xff'"
$no_adapter" 1 out.mp4 "caf"$'\xe9 \xff' -ai 99
expect "no output path prints the syntax whatever the frame count" "$syntax" 0 -Duration -1 -Rate -5

# Configuration errors end the process with a message and no core dump.
expect "-AdapterIndex as the last argument fails" "" 1 out.mp4 -AdapterIndex
expect_stderr "-AdapterIndex message" '^Ostrel: failed with 0x80070057$'
expect_stderr "-AdapterIndex words" '^Ostrel: -AdapterIndex takes a number: -AdapterIndex <index>$'
expect "a zero height fails" "" 1 -Resolution 1280 0 out.mp4
expect_stderr "-Resolution words, after the failure line" \
    '^Ostrel: failed with 0x80070057$' && [[ $(tail -n1 "$work/stderr") == 'Ostrel: -Resolution takes two numbers above 0: -Resolution <width> <height>' ]] ||
    { echo "FAIL: -Resolution words: $(cat "$work/stderr")"; failures=$((failures + 1)); }
expect "the value part is not a width" "" 1 -Resolution:1280 720 out.mp4
expect "a rate without numerator fails" "" 1 -Rate /2 out.mp4
expect "a negative duration fails" "" 1 -Duration -1 out.mp4
expect_stderr "frame count words" '^Ostrel: -Duration and -Rate give fewer frames than none, or more than a run can count$'
expect "a duration past the frame counter fails" "" 1 -Duration 100000000 out.mp4
expect "warnings before a failure stay printed" \
"Warning, command line option argument not recognized: x" 1 -x -Rate 30/ out.mp4
expect "an empty output path fails" "" 1 -Duration 1 ""
expect_stderr "empty output path message" '^Ostrel: failed with 0x80070057$'
expect_stderr "empty output path words" '^Ostrel: the output path is empty: give the path of the video to write$'

# Standard output that cannot take the last line fails the process, which
# says so; a video written whole stays.
# into_full NAME ARGS...
into_full() {
    local name=$1
    shift
    "$OSTREL" "$@" >/dev/full 2>"$work/stderr"
    local status=$?
    if [[ $status != 1 || $(cat "$work/stderr") != "Ostrel: standard output: No space left on device" ]]; then
        echo "FAIL: $name into a full device: exit $status, $(cat "$work/stderr")"
        failures=$((failures + 1))
    else
        echo "ok: $name into a full device fails"
    fi
}
if [[ -c /dev/full ]]; then
    rm -f full.mp4
    into_full "a run" -Resolution 64 64 -Duration 1 full.mp4
    [[ -s full.mp4 ]] || {
        echo "FAIL: the video of a run into a full device is gone"
        failures=$((failures + 1))
    }
    into_full "-ea" -ea
    into_full "-?" '-?'
fi

# The adapter listing: one line per adapter, index, name, vendor, LUID and
# flags; the software adapter (lavapipe here) last with Flags 0x2.
listing=$("$OSTREL" -ea 2>"$work/stderr")
status=$?
line_pattern='^[0-9]+: .+, Vendor 0x[0-9A-F]{4,}, Adapter -?[0-9]+\.[0-9A-F]{8}(, Flags 0x[1-9A-F][0-9A-F]*)?$'
if [[ $status != 0 || -z "$listing" ]] || grep -vqE "$line_pattern" <<<"$listing" ||
    ! tail -n1 <<<"$listing" | grep -qE ', Flags 0x2$'; then
    echo "FAIL: -ea lists the adapters (exit $status): $listing"
    failures=$((failures + 1))
else
    echo "ok: -ea lists the adapters"
fi
expect "-EnumerateAdapters ignores every other argument" "$listing" 0 out.mp4 -AdapterIndex 7 -EnumerateAdapters:x -x

# With vulkaninfo the software adapter's line is known exactly: its name and
# vendor, and a LUID hashed from its UUID (FNV-1a, folded to 32 bits) since
# lavapipe reports no LUID of its own.
if command -v vulkaninfo >/dev/null; then
    info=$(vulkaninfo 2>/dev/null)
    name=$(grep -m1 -E '^\s*deviceName\s*=' <<<"$info" | sed -E 's/^[^=]*= //')
    vendor=$(grep -m1 -E '^\s*vendorID\s*=' <<<"$info" | sed -E 's/^[^=]*= //')
    uuid=$(grep -m1 -E '^\s*deviceUUID\s*=' <<<"$info" | sed -E 's/^[^=]*= //; s/-//g')
    luid_valid=$(grep -m1 -E '^\s*deviceLUIDValid\s*=' <<<"$info" | sed -E 's/^[^=]*= //')
    if [[ $luid_valid == false && -n $uuid ]]; then
        hash=$((0xcbf29ce484222325))
        for ((i = 0; i < 32; i += 2)); do
            hash=$(((hash ^ 0x${uuid:i:2}) * 0x100000001b3))
        done
        # Bash shifts negative values arithmetically: mask both halves.
        low=$((hash & 0xFFFFFFFF))
        high=$(((hash >> 32) & 0xFFFFFFFF))
        luid=$((low ^ high))
        count=$(wc -l <<<"$listing")
        expected=$(printf '%d: %s, Vendor 0x%04X, Adapter 0.%08X, Flags 0x2' $((count - 1)) "$name" "$vendor" "$luid")
        if [[ $(tail -n1 <<<"$listing") != "$expected" ]]; then
            echo "FAIL: the software adapter's line: expected '$expected', got '$(tail -n1 <<<"$listing")'"
            failures=$((failures + 1))
        else
            echo "ok: the software adapter's line is exact"
        fi
    fi
fi

# Out of memory: with too little address space to start the graphics driver
# (or, where it starts, to encode), the run reports out of memory, whichever
# allocation failed.
output=$(
    ulimit -v 500000
    "$OSTREL" -Resolution 1920 1080 -Duration 1 oom.mp4 2>"$work/stderr"
)
status=$?
if [[ $(tail -n1 <<<"$output") != "Exception: 0x8007000E" || $status != 1 ]]; then
    echo "FAIL: a run out of memory (exit $status, expected 1): $output"
    failures=$((failures + 1))
else
    echo "ok: a run out of memory reports E_OUTOFMEMORY"
fi

if ((failures)); then
    echo "$failures failed"
    exit 1
fi
echo "all passed"

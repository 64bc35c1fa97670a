#!/usr/bin/env bash
# Runs the built tool and compares what it prints, exactly.
set -u
OSTREL=${1:?usage: cli_test.sh OSTREL_BINARY}
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
expect "a mode after the output path still wins" "$syntax" 0 out.mp4 -?
expect "the syntax mode prints no warnings" "$syntax" 0 a b -unknown -?
expect "the first mode wins" "$syntax" 0 -? -ea
expect "an option value of a mode is ignored" "$syntax" 0 -?:x -ea

not_implemented='Exception: 0x80004001'
expect "/? is an output path" "$not_implemented" 0 '/?'
expect "unknown arguments only warn on the encoding path" \
"Warning, command line argument not recognized: b.mp4
Warning, command line option argument not recognized: foo
Warning, command line option argument not recognized: 
$not_implemented" 0 a.mp4 b.mp4 -foo:bar -
# -Debug itself is covered by debug_test.sh.
expect "self-debugging options are no warnings" "$not_implemented" 0 -DISABLEDEBUGOUTPUT out.mp4
expect "arguments with blanks and quotes survive" \
"Warning, command line argument not recognized: two \"quoted\" words\\
$not_implemented" 0 out.mp4 'two "quoted" words\'

# Configuration errors end the process with a message and no core dump.
expect "-AdapterIndex as the last argument fails" "" 1 out.mp4 -AdapterIndex
expect_stderr "-AdapterIndex message" '^Ostrel: failed with 0x80070057$'
expect "a zero height fails" "" 1 -Resolution 1280 0 out.mp4
expect "the value part is not a width" "" 1 -Resolution:1280 720 out.mp4
expect "a rate without numerator fails" "" 1 -Rate /2 out.mp4
expect "a negative duration fails" "" 1 -Duration -1 out.mp4
expect "a duration past the frame counter fails" "" 1 -Duration 100000000 out.mp4
expect "warnings before a failure stay printed" \
"Warning, command line option argument not recognized: x" 1 -x -Rate 30/ out.mp4

if ((failures)); then
    echo "$failures failed"
    exit 1
fi
echo "all passed"

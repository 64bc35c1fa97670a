#!/usr/bin/env bash
# What a run shows beside its one line: a status line on standard error when
# that is a terminal, and nothing anywhere when it is not.
#   terminal_test.sh OSTREL_BINARY
set -u
OSTREL=$(realpath "${1:?usage: terminal_test.sh OSTREL_BINARY}")
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
script -qec "'$OSTREL' -Resolution 320 180 -Duration 3 tty.mp4 >stdout.txt" /dev/null >terminal.txt
if [[ $(cat stdout.txt) =~ ^Elapsed\ Time:\ [0-9]+\.[0-9]{2}\ seconds$ && $(wc -l <stdout.txt) == 1 ]]; then
    pass "standard output holds exactly the one line"
else
    fail "standard output with a terminal on standard error: $(cat stdout.txt)"
fi
# The status lines are redrawn with carriage returns and the last is erased.
status=$(tr '\r' '\n' <terminal.txt | grep -E '^frame [0-9]+/180  [0-9]+\.[0-9] fps  [0-9]+ s  ETA [0-9]+ s *$' | head -n1)
if [[ -n $status ]]; then
    pass "the terminal showed the status line: $status"
else
    fail "no status line on the terminal: $(od -c terminal.txt | head -5)"
fi
if tr '\r' '\n' <terminal.txt | tail -n1 | grep -qE '^ *$'; then
    pass "the status line is erased at the end"
else
    fail "the terminal ends with: $(tr '\r' '\n' <terminal.txt | tail -n1)"
fi

# Not a terminal: nothing but the one line.
"$OSTREL" -Resolution 320 180 -Duration 1 file.mp4 >stdout.txt 2>stderr.txt
if [[ ! -s stderr.txt && $(wc -l <stdout.txt) == 1 ]]; then
    pass "without a terminal nothing extra is written"
else
    fail "without a terminal: stderr $(od -c stderr.txt | head -3), stdout $(cat stdout.txt)"
fi

if ((failures)); then
    echo "$failures failed"
    exit 1
fi
echo "all passed"

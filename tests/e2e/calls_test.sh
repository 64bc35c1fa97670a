#!/usr/bin/env bash
# The flags of the tool's calls, which only a race would show otherwise: the
# opens of the video, the statistics file and a dump, and the actions that
# catch the console's signals. The failing-calls library logs them.
set -u
OSTREL=$(realpath "${1:?usage: calls_test.sh OSTREL_BINARY DEBUGGEE_BINARY FAILING_CALLS_LIBRARY}")
DEBUGGEE=$(realpath "${2:?usage: calls_test.sh OSTREL_BINARY DEBUGGEE_BINARY FAILING_CALLS_LIBRARY}")
FAILING=$(realpath "${3:?usage: calls_test.sh OSTREL_BINARY DEBUGGEE_BINARY FAILING_CALLS_LIBRARY}")

failures=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/out"
folder=$(realpath "$work/out")
log=$work/calls.txt
ulimit -c 0

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
pass() { echo "ok: $*"; }

# has FLAGS NAME...: whether the "|"-joined FLAGS hold every NAME.
has() {
    local flags="|$1|" name
    for name in "${@:2}"; do
        [[ $flags == *"|$name|"* ]] || return 1
    done
}

# opens PATTERN [FLAG]: the flags of each logged open of a path that matches
# the extended regular expression PATTERN (and whose flags hold FLAG), one a
# line.
opens() {
    awk -v pattern="$1" -v flag="${2:-}" '
        $1 == "open" && $2 ~ pattern && (flag == "" || index("|" $3 "|", "|" flag "|")) { print $3 }' "$log"
}

# expect_opens WHAT PATTERN FLAG NAME...: there are opens of PATTERN with
# FLAG, and each carries every NAME.
expect_opens() {
    local what=$1 pattern=$2 flag=$3 flags found=
    shift 3
    while read -r flags; do
        found=1
        has "$flags" "$@" || { fail "$what opened with $flags, not with all of $*"; return; }
    done < <(opens "$pattern" "$flag")
    [[ -n $found ]] && pass "$what: $*" || fail "$what: no open logged; calls: $(grep '^open ' "$log")"
}

# run_tool ARGS...: an encoding run in the watched folder, calls logged (the
# tool's alone: timeout sets actions of its own).
run_tool() {
    rm -f "$log"
    (cd "$folder" && OSTREL_CALL_LOG=$log OSTREL_FAIL_FOLDER=$folder \
        timeout 120 env LD_PRELOAD="$FAILING" "$OSTREL" -Resolution 64 64 -Duration 1 "$@" >"$work/stdout.txt" 2>"$work/stderr.txt")
    status=$?
}

echo "== the video and the statistics file"
OSTREL_STATISTICS=$folder/stats.json run_tool out.mp4
[[ $status == 0 && -s $folder/out.mp4 && -s $folder/stats.json ]] ||
    fail "the run: exit $status, $(cat "$work/stdout.txt" "$work/stderr.txt"); $(ls -A "$folder")"
# Nothing in the folder is left open to a program the tool starts (the
# debugging child), and nothing is made where a name already stands.
expect_opens "every open in the output folder" "^$folder(/|\$)" "" O_CLOEXEC
expect_opens "the output folder" "^$folder(/[.])?\$" O_DIRECTORY O_RDONLY O_CLOEXEC
# The video is an unnamed file where the file system has them.
if [[ -n $(opens "^$folder/" O_TMPFILE) ]]; then
    expect_opens "the unnamed video" "^$folder/" O_TMPFILE O_RDWR O_CLOEXEC
else
    echo "skipped: no unnamed files here"
fi
# Files are made only where no name stands.
expect_opens "every file made in the output folder" "^$folder/" O_CREAT O_EXCL
# The figures go to a new private file: never through a link, never waiting
# on a FIFO planted at its name.
expect_opens "the statistics file" "^$folder/[.]stats[.]json[.][0-9]+[.][0-9]+[.]partial\$" "" O_WRONLY O_CREAT O_EXCL O_NOFOLLOW O_NONBLOCK O_CLOEXEC

echo "== the video under a hidden name"
rm -f "$folder"/out.mp4 "$folder"/stats.json
OSTREL_FAIL=tmpfile run_tool out.mp4
[[ $status == 0 && -s $folder/out.mp4 ]] || fail "the run without unnamed files: exit $status"
expect_opens "the hidden file" "^$folder/[.][^/]*[^.]\$" O_CREAT O_RDWR O_EXCL O_CLOEXEC

echo "== the console's signals"
# The run catches SIGINT, SIGHUP and SIGTERM with a handler that leaves
# interrupted calls to go on (SA_RESTART), blocks its own signal while it
# runs (no SA_NODEFER), stays installed for a second event (no SA_RESETHAND)
# and blocks nothing else; at the end each signal has its old action again.
for signal in 2 1 15; do
    actions=$(awk -v signal="$signal" '$1 == "sigaction" && $2 == signal { print $3, $4, $5 }' "$log")
    handler=$(grep '^handler ' <<<"$actions" | head -n 1)
    if [[ -z $handler ]]; then
        fail "signal $signal: no handler installed; actions: $actions"
        continue
    fi
    read -r _ flags mask <<<"$handler"
    [[ $flags == SA_RESTART && $mask == - ]] && pass "signal $signal caught with $flags, mask $mask" ||
        fail "signal $signal caught with flags $flags, mask $mask"
    last=$(tail -n 1 <<<"$actions")
    [[ $last == "default "* ]] || fail "signal $signal is left with: $last"
done

echo "== a dump"
mkdir "$work/dumps"
cp "$DEBUGGEE" "$work/dumps/"
dumps=$(realpath "$work/dumps")
rm -f "$log"
(cd "$dumps" && OSTREL_CALL_LOG=$log OSTREL_FAIL_FOLDER=$dumps \
    timeout 120 env LD_PRELOAD="$FAILING" "./$(basename "$DEBUGGEE")" -Debug throw-long >"$work/stdout.txt" 2>"$work/stderr.txt")
status=$?
ls "$dumps"/*.dmp >/dev/null 2>&1 || fail "no dump written: exit $status, $(cat "$work/stdout.txt")"
folder=$dumps
expect_opens "the dump" "[.]dmp\$" "" O_WRONLY O_CREAT O_EXCL O_NOFOLLOW O_NONBLOCK O_CLOEXEC

((failures == 0)) || { echo "$failures failure(s)"; exit 1; }
echo "all passed"

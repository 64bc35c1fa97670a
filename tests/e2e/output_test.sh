#!/usr/bin/env bash
# What a run leaves at its output path, and how it ends, when things go wrong:
# failures, a full disk, signals, odd files at the path, odd names, no /proc.
# After every failed or stopped run the folder must hold exactly what it held
# before, byte for byte.
#   output_test.sh OSTREL_BINARY [FAILING_CALLS_LIBRARY]
set -u
OSTREL=$(realpath "${1:?usage: output_test.sh OSTREL_BINARY [FAILING_CALLS_LIBRARY]}")
FAILING=${2:+$(realpath "$2")}
failures=0
work=$(mktemp -d)
mounted=
cleanup() {
    [[ -n $mounted ]] && umount -l "$mounted"
    rm -rf "$work"
}
trap cleanup EXIT
cd "$work"

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
pass() { echo "ok: $*"; }

# The folder's names, kinds, sizes and contents.
snapshot() { (cd "$1" && find . -mindepth 1 -printf '%p %y %s\n' | sort && find . -type f -exec sha256sum {} + | sort); }

# unchanged NAME FOLDER BEFORE: the folder is as BEFORE (a snapshot).
unchanged() {
    local now
    now=$(snapshot "$2")
    if [[ $now == "$3" ]]; then
        pass "$1: the folder is as it was"
    else
        fail "$1: the folder changed: $(diff <(echo "$3") <(echo "$now") | head -5)"
    fi
}

# run_in FOLDER ARGS...: runs the tool there; sets $output and $status.
run_in() {
    local folder=$1
    shift
    output=$(cd "$folder" && timeout 60 "$OSTREL" "$@" 2>/dev/null)
    status=$?
}

mkdir runs
printf 'the earlier video' >runs/out.mp4
before=$(snapshot runs)

## Failed runs: status 1 with their line, the old file untouched.
run_in runs -Resolution 64 64 -Duration 0 out.mp4
[[ $status == 1 && $output == "Exception: 0xC00D4A44" ]] || fail "-Duration 0: exit $status, $output"
unchanged "-Duration 0" runs "$before"
run_in runs -Resolution 64 64 -Duration 1 -Bitrate 5 out.mp4
[[ $status == 1 && $output == Exception:* ]] || fail "-Bitrate 5: exit $status, $output"
unchanged "a bit rate the encoder refuses" runs "$before"

## A full disk: a small file system that a 5-second video overflows.
if [[ $(id -u) == 0 ]]; then
    mkdir small
    if mount -t tmpfs -o size=256k tmpfs small; then
        mounted=$work/small
        printf 'the earlier video' >small/out.mp4
        small_before=$(snapshot small)
        run_in small -Resolution 640 360 -Duration 5 out.mp4
        [[ $status == 1 && $output == "Exception: 0x80070070" ]] || fail "full disk: exit $status, $output"
        unchanged "a disk that fills up" small "$small_before"
        # The space of the failed video came back.
        [[ $(df --output=used -k small | tail -n1 | tr -d ' ') -le 8 ]] || fail "the full disk kept its space: $(df -k small)"
        umount -l small && mounted=
    else
        fail "could not mount a small tmpfs as root"
    fi
else
    echo "skipped: a full disk needs root (a small tmpfs)"
fi

## Each step that makes the video durable, failing: the disk errs on a
## write, on the file's flush, on naming the unnamed file or on the final
## rename. The folder is as before, with no temporary file.
if [[ -n $FAILING ]]; then
    mkdir steps
    folder=$(realpath steps)
    printf 'the earlier video' >steps/out.mp4
    steps_before=$(snapshot steps)
    # A run that succeeds flushes the video before it takes the name, and the
    # folder after. It also tells whether this file system gives the run an
    # unnamed file, which is named with linkat at the end.
    cp -a steps steps.kept
    rm -f "$work/calls.txt"
    output=$(cd steps && OSTREL_CALL_LOG=$work/calls.txt OSTREL_FAIL_FOLDER=$folder LD_PRELOAD=$FAILING \
        timeout 60 "$OSTREL" -Resolution 64 64 -Duration 1 out.mp4 2>/dev/null)
    order=$(awk -v folder="$folder" '
        $1 == "fsync" && $2 != folder && !renamed { file = 1 }
        $1 == "renameat" && $3 == "out.mp4" { renamed = 1; before = file }
        $1 == "fsync" && $2 == folder && renamed { after = 1 }
        END { print (before ? "file" : "-") " rename " (after ? "folder" : "-") }' "$work/calls.txt")
    if [[ $output == Elapsed\ Time:* && $order == "file rename folder" ]]; then
        pass "the video is flushed before its rename and the folder after"
    else
        fail "the durable steps: $output; $order; calls: $(cat "$work/calls.txt")"
    fi
    rm -rf steps && mv steps.kept steps

    # The statistics file is flushed, moved into place and its folder synced
    # after the move.
    rm -f "$work/calls.txt"
    output=$(cd steps && OSTREL_STATISTICS=$folder/stats.json OSTREL_CALL_LOG=$work/calls.txt \
        OSTREL_FAIL_FOLDER=$folder LD_PRELOAD=$FAILING timeout 60 "$OSTREL" -Resolution 64 64 -Duration 1 \
        stats.mp4 2>/dev/null)
    order=$(awk -v folder="$folder" '
        $1 == "rename" && $3 == folder "/stats.json" { renamed = 1 }
        $1 == "fsync" && $2 == folder && renamed { after = 1 }
        END { print (renamed ? "rename" : "-") " " (after ? "folder" : "-") }' "$work/calls.txt")
    if [[ $output == Elapsed\ Time:* && $order == "rename folder" && -s steps/stats.json ]]; then
        pass "the statistics file is renamed into place and its folder synced after"
    else
        fail "the statistics file's durable steps: $output; $order; calls: $(cat "$work/calls.txt")"
    fi
    rm -f steps/stats.json steps/stats.mp4

    calls="write fsync renameat"
    grep -q '^linkat ' "$work/calls.txt" && calls="$calls linkat" || echo "skipped: no unnamed files here, no linkat"
    for call in $calls; do
        output=$(cd steps && OSTREL_FAIL=$call OSTREL_FAIL_FOLDER=$folder LD_PRELOAD=$FAILING \
            timeout 60 "$OSTREL" -Resolution 64 64 -Duration 1 out.mp4 2>/dev/null)
        status=$?
        # An I/O error at any step is the write fault it is.
        [[ $status == 1 && $output == "Exception: 0x8007001D" ]] || fail "a failing $call: exit $status, $output"
        unchanged "a failing $call ($output)" steps "$steps_before"
    done

    # Where the file system has no unnamed files, a hidden name made with
    # O_EXCL takes their place and is gone at the end.
    output=$(cd steps && OSTREL_FAIL=tmpfile OSTREL_FAIL_FOLDER=$folder LD_PRELOAD=$FAILING \
        timeout 60 "$OSTREL" -Resolution 64 64 -Duration 1 out.mp4 2>/dev/null)
    if [[ $output == Elapsed\ Time:* && $(ls -A steps) == out.mp4 ]] && ffprobe -v error steps/out.mp4; then
        pass "without unnamed files the video is written under a hidden name and renamed"
    else
        fail "without unnamed files: $output; $(ls -A steps)"
    fi
    output=$(cd steps && OSTREL_FAIL=tmpfile,fsync OSTREL_FAIL_FOLDER=$folder LD_PRELOAD=$FAILING \
        timeout 60 "$OSTREL" -Resolution 64 64 -Duration 1 out.mp4 2>/dev/null)
    [[ $output == Exception:* && $(ls -A steps) == out.mp4 ]] ||
        fail "a hidden-name file that fails to flush is left behind: $output; $(ls -A steps)"
else
    echo "skipped: no failing-calls library given"
fi

## Signals during a run: the line, status 128 + the signal, the old file.
# wait_writing PID FOLDER: until the run has its new file open in FOLDER.
wait_writing() {
    for _ in $(seq 600); do
        ls -l "/proc/$1/fd" 2>/dev/null | grep -q -- "-> $2/" && return 0
        sleep 0.05
    done
    return 1
}
set -m # each run in a process group of its own, with SIGINT as the shell found it
for signal in INT TERM HUP; do
    # Started directly (a wrapper such as timeout would pass the signal on a
    # second time, and a second signal ends the tool at once).
    (cd runs && exec "$OSTREL" -Resolution 1920 1080 -Duration 60 out.mp4 >"$work/signal.txt" 2>/dev/null) &
    pid=$!
    (sleep 120 && kill -KILL -- -$pid) 2>/dev/null &
    watchdog=$!
    wait_writing $pid "$work/runs" || fail "SIG$signal: the run never began writing"
    start=$(date +%s%N)
    kill -$signal -- -$pid
    wait $pid
    status=$?
    took=$((($(date +%s%N) - start) / 1000000))
    kill -- -$watchdog 2>/dev/null
    number=$(kill -l $signal)
    if [[ $status == $((128 + number)) && $(cat "$work/signal.txt") == "Exception: 0x800704C7" ]]; then
        pass "SIG$signal stops a 1920x1080 run (after $took ms) with the cancel line and status $status"
    else
        fail "SIG$signal: exit $status, output: $(cat "$work/signal.txt")"
    fi
    unchanged "SIG$signal mid-run" runs "$before"
done
set +m

# A signal the parent ignores stays ignored: the run goes on to its end.
(cd runs && trap '' HUP && exec "$OSTREL" -Resolution 640 360 -Duration 10 ignored.mp4 >"$work/ignored.txt" 2>/dev/null) &
pid=$!
wait_writing $pid "$work/runs" || fail "an ignored SIGHUP: the run never began writing"
kill -HUP $pid 2>/dev/null
wait $pid
status=$?
if [[ $status == 0 && $(cat "$work/ignored.txt") == Elapsed\ Time:* && -s runs/ignored.mp4 ]]; then
    pass "an ignored SIGHUP stays ignored"
else
    fail "an ignored SIGHUP: exit $status, output: $(cat "$work/ignored.txt")"
fi
rm -f runs/ignored.mp4

## Odd things at the path.
mkdir odd
mkfifo odd/fifo.mp4
odd_before=$(snapshot odd)
run_in odd -Resolution 64 64 -Duration 1 fifo.mp4
[[ $status == 1 && $output == "Exception: 0x8007006E" ]] || fail "a FIFO: exit $status, $output"
unchanged "a FIFO at the path is refused without blocking" odd "$odd_before"

mkdir odd/real
printf 'the earlier video' >odd/real/video.mp4
ln -s real/video.mp4 odd/link.mp4
run_in odd -Resolution 64 64 -Duration 1 link.mp4
if [[ $status == 0 && -L odd/link.mp4 && $(readlink odd/link.mp4) == real/video.mp4 ]] &&
    ffprobe -v error odd/real/video.mp4; then
    pass "a link's target is replaced and the link stays"
else
    fail "a link at the path: exit $status, $(ls -l odd)"
fi
[[ -z $(find odd -name '.*' -mindepth 1) ]] || fail "hidden files were left: $(ls -A odd odd/real)"

# A new file gets 0666 less the umask.
(umask 027 && run_in odd -Resolution 64 64 -Duration 1 masked.mp4)
mode=$(stat -c %a odd/masked.mp4 2>/dev/null)
[[ $mode == 640 ]] && pass "a new video gets 0666 less the umask" || fail "a new video under umask 027 has mode $mode"

## The statistics never replace the video: the same name, a link to it, or
## the link at the video's path naming the statistics file.
mkdir stats
ln -s same.mp4 stats/link.json
printf 'statistics' >stats/target.json
ln -s target.json stats/video-link.mp4
for pair in same.mp4:same.mp4 link.json:same.mp4 target.json:video-link.mp4; do
    statistics=${pair%%:*} video=${pair#*:}
    error=$(cd stats && OSTREL_STATISTICS=$statistics timeout 60 "$OSTREL" -Resolution 64 64 -Duration 1 "$video" 2>&1 >"$work/stats.txt")
    status=$?
    if [[ $status == 0 && $(cat "$work/stats.txt") == Elapsed\ Time:* &&
        $error == "Ostrel: statistics not written to $statistics: that is the output video" ]] &&
        ffprobe -v error "stats/$video"; then
        pass "statistics at $statistics for the video $video are refused and the video stays"
    else
        fail "statistics at $statistics for $video: exit $status, $(cat "$work/stats.txt"), $error"
    fi
done
# The longest name a folder takes.
long=$(printf 's%.0s' $(seq 250)).json
output=$(cd stats && OSTREL_STATISTICS=$long timeout 60 "$OSTREL" -Resolution 64 64 -Duration 1 long.mp4 2>&1)
[[ $output == Elapsed\ Time:* && -s stats/$long && -z $(find stats -name '.*' -mindepth 1) ]] &&
    pass "a statistics file with a 255-byte name is written" || fail "a 255-byte statistics name: $output"

## What a plain open for writing refuses: status 1, the access-denied line,
## nothing changed.
# as_user FOLDER ARGS...: runs the tool in FOLDER as an unprivileged user
# (65534 where this is root); sets $output, $error and $status.
as_user() {
    local folder=$1
    shift
    local drop=()
    [[ $(id -u) == 0 ]] && drop=(setpriv --reuid=65534 --regid=65534 --clear-groups)
    output=$(cd "$folder" && timeout 60 "${drop[@]}" "$OSTREL" "$@" 2>"$work/error.txt")
    status=$?
    error=$(cat "$work/error.txt")
}
if [[ $(id -u) != 0 ]] || command -v setpriv >/dev/null; then
    mkdir -p denied/locked
    printf 'the earlier video' >denied/prot.mp4
    printf 'the earlier video' >denied/locked/open.mp4
    chmod 444 denied/prot.mp4
    chmod 666 denied/locked/open.mp4
    chmod 555 denied/locked
    [[ $(id -u) == 0 ]] && chmod 755 "$work" && chown -R 65534:65534 denied
    denied_before=$(snapshot denied)
    as_user denied -Resolution 64 64 -Duration 1 prot.mp4
    [[ $status == 1 && $output == "Exception: 0x80070005" ]] || fail "a file the user may not write: exit $status, $output"
    as_user denied/locked -Resolution 64 64 -Duration 1 open.mp4
    [[ $status == 1 && $output == "Exception: 0x80070005" && $error == *"the folder . does not take new files"* ]] ||
        fail "a folder the user may not write: exit $status, $output, $error"
    unchanged "files and folders the user may not write" denied "$denied_before"
else
    echo "skipped: running as another user needs setpriv"
fi

## A shared folder such as /tmp: another user's link or file is never used.
if [[ $(id -u) == 0 ]]; then
    mkdir shared
    chmod 1777 shared
    printf 'private' >shared/secret
    chmod 600 shared/secret
    ln -s secret shared/theirs.mp4
    chown -h 65534:65534 shared/theirs.mp4
    printf 'planted' >shared/planted.mp4
    chown 65534:65534 shared/planted.mp4
    chmod 666 shared/planted.mp4
    shared_before=$(snapshot shared)
    for name in theirs.mp4 planted.mp4; do
        run_in shared -Resolution 64 64 -Duration 1 $name
        [[ $status == 1 && $output == "Exception: 0x80070005" ]] || fail "another user's $name: exit $status, $output"
    done
    unchanged "another user's link and file in a shared folder" shared "$shared_before"
else
    echo "skipped: another user's files in a shared folder need root"
fi

## Names and start-up: a name that is not UTF-8 is kept byte for byte; a
## run without /proc and one with few descriptors write their videos.
mkdir names
name=$'clip\xff\xe9.mp4'
run_in names -Resolution 64 64 -Duration 1 "$name"
if [[ $status == 0 && -f "names/$name" && $(ls names | wc -l) == 1 ]]; then
    pass "a name with the bytes 0xFF 0xE9 is written under that exact name"
else
    fail "a name that is not UTF-8: exit $status, files: $(ls names | od -c | head -3)"
fi
(ulimit -n 16 && run_in names -Resolution 64 64 -Duration 1 few.mp4 && [[ $status == 0 ]]) ||
    fail "a run with 16 descriptors failed"
[[ -f names/few.mp4 ]] && pass "a run with 16 descriptors writes its video"

if [[ $(id -u) == 0 ]] && command -v unshare >/dev/null; then
    output=$(cd names && unshare --mount sh -c 'umount -l /proc && exec "$0" -Resolution 64 64 -Duration 1 noproc.mp4' "$OSTREL" 2>&1)
    status=$?
    if [[ $status == 0 && $output == Elapsed\ Time:* && -f names/noproc.mp4 ]]; then
        pass "a run without /proc writes its video"
    else
        fail "a run without /proc: exit $status, output: $output, files: $(ls names)"
    fi
else
    echo "skipped: a run without /proc needs root (unshare --mount)"
fi

if ((failures)); then
    echo "$failures failed"
    exit 1
fi
echo "all passed"

#!/usr/bin/env bash
# Self-debugging, end to end: runs copies of the tool and of the test program
# that faults on purpose in a scratch folder (minidumps land beside the
# executable), and checks the console, the dumps and what lldb reads in them.
set -u
OSTREL=${1:?usage: debug_test.sh OSTREL_BINARY DEBUGGEE_BINARY [FAILING_CALLS_LIBRARY]}
DEBUGGEE=${2:?usage: debug_test.sh OSTREL_BINARY DEBUGGEE_BINARY [FAILING_CALLS_LIBRARY]}
FAILING=${3:+$(realpath "$3")}

# The failure that an encoding run with an output path meets first.
FAILING_ARGUMENTS=(-AdapterIndex 99 out.mp4)
FAILING_FILE=Context.cpp
FAILING_FUNCTION=Application::Context::Context
FAILING_CODE=0x887A0002
FAILING_EXPRESSION="m_DxgiFactory->EnumAdapters1(m_Configuration.m_DxgiAdapterIndex, m_DxgiAdapter1.GetAddressOf())"

export PYTHONPATH=/usr/lib/llvm-14/lib/python3.11/dist-packages
OBJ2YAML=/usr/lib/llvm-14/bin/obj2yaml
failures=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$OSTREL" "$DEBUGGEE" "$work/"
cp "$(dirname "$OSTREL")"/libostrel-lttng.so "$work/" 2>/dev/null
cd "$work"
# The executable's folder as the tool reads it, links resolved.
here=$(pwd -P)
ulimit -c 0

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# run PROGRAM ARGS...: runs it with standard output and error in out.txt and
# err.txt, its exit code in $status and its process id in $pid. The pipe
# ends only when the debugging child has ended too.
run() {
    rm -f ./*.dmp
    { "./$1" "${@:2}" 2>err.txt & echo $! >pid.txt; wait $!; echo $? >status.txt; } | cat >out.txt
    status=$(cat status.txt)
    pid=$(cat pid.txt)
}

# run_sh SCRIPT: runs sh -c SCRIPT as run does (the script knows its pid as
# $$ and execs the program under test). A run that takes more than a minute
# is killed, its debugging child too, and fails.
run_sh() {
    rm -f ./*.dmp
    {
        sh -c "$1" 2>err.txt &
        local program=$!
        echo $program >pid.txt
        { sleep 60; pkill -KILL -f "ParentProcessDebug $program " || true; kill -KILL $program; } >/dev/null 2>&1 &
        local watchdog=$!
        wait $program
        echo $? >status.txt
        kill $watchdog
    } 2>/dev/null | cat >out.txt
    status=$(cat status.txt)
    pid=$(cat pid.txt)
}

# wait_until SECONDS COMMAND...: polls every 50 ms until the command succeeds.
wait_until() {
    local rounds=$(($1 * 20))
    shift
    until "$@"; do
        ((--rounds > 0)) || return 1
        sleep 0.05
    done
}

# start_group OUTPUT PROGRAM ARGS...: starts the program as a shell starts a
# job, in a process group of its own, output in OUTPUT; its pid in $pid.
start_group() {
    set -m
    "./$2" "${@:3}" >"$1" 2>&1 &
    pid=$!
    set +m
}

traced() { (($(awk '/^TracerPid:/ {print $2}' "/proc/$1/status" 2>/dev/null || echo 0) != 0)); }
group_gone() { ! pgrep -g "$1" >/dev/null; }

# expect_lines NAME: out.txt matches the extended regular expressions on
# standard input, line by line, exactly.
expect_lines() {
    local expected actual index=0 ok=1
    mapfile -t expected
    mapfile -t actual <out.txt
    if ((${#expected[@]} != ${#actual[@]})); then
        ok=0
    else
        for ((index = 0; index < ${#expected[@]}; ++index)); do
            [[ "${actual[index]}" =~ ^${expected[index]}$ ]] || ok=0
        done
    fi
    if ((ok)); then
        echo "ok: $1"
    else
        fail "$1; output was:"
        head -c 2000 out.txt
    fi
}

# expect_dumps NAME FILE...: exactly these dumps lie beside the executable.
expect_dumps() {
    local name=$1
    shift
    local actual expected
    actual=$(ls ./*.dmp 2>/dev/null | sed 's|^\./||' | sort)
    expected=$(printf '%s\n' "$@" | sort)
    [[ "$actual" == "$expected" ]] || fail "$name: dumps were: ${actual:-none}, expected: $expected"
}

lldb_run() {
    timeout 120 lldb -b -c "$1" "${@:2}" </dev/null 2>&1
}

# The thrown object's address: parameter 1 of the dump's exception record.
thrown_object() {
    "$OBJ2YAML" "$1" | sed -n 's/^ *Parameter 1: *\(0x[0-9A-F]*\)$/\1/p'
}

echo "== a failing encoding run under -Debug"
# The expression is text, not a pattern: escape what a pattern would read.
expression_pattern=$(sed 's/[][().*+?^$|{}\\]/\\&/g' <<<"$FAILING_EXPRESSION")
trace="$FAILING_FILE\([0-9]+\): $FAILING_FUNCTION: Throwing an exception, $FAILING_CODE, expression $expression_pattern"
bytes='16 bytes: ([0-9A-F]{2} ){15}[0-9A-F]{2}'
run ostrel -Debug "${FAILING_ARGUMENTS[@]}"
expect_lines "trace line, exception line, failure line, in order" <<END
$trace
Exception: Module ostrel, $bytes, Type 12ComException
Exception: $FAILING_CODE
END
((status == 1)) || fail "exit code $status (a failed run exits 1)"
dump="ostrel-$pid-DebugException-0-0xE06D7363.dmp"
expect_dumps "one dump for the thrown ComException" "$dump"
if [[ -f "$dump" ]]; then
    normal_size=$(stat -c %s "$dump")
    backtrace=$(lldb_run "$dump" -o bt)
    grep -q "stop reason = signal SIGTRAP" <<<"$backtrace" || fail "lldb: no stop reason: $backtrace"
    grep -qE "frame #[0-9]+: .* ostrel\`$FAILING_FUNCTION" <<<"$backtrace" ||
        fail "lldb: the backtrace does not pass $FAILING_FUNCTION: $backtrace"
    grep -qE "ostrel\`main " <<<"$backtrace" || fail "lldb: the backtrace does not reach main: $backtrace"
    # A normal dump holds stacks, not the heap.
    object=$(thrown_object "$dump")
    read_back=$(lldb_run "$dump" -o "memory read -c 16 $object")
    grep -q "error:" <<<"$read_back" || fail "a normal dump holds the thrown object at $object: $read_back"
    [[ $(stat -c %a "$dump") == 600 ]] || fail "the dump is not private: $(stat -c %a "$dump")"
    echo "ok: lldb reads the dump (normal dump: $normal_size bytes)"
fi

echo "== -Debug:full"
run ostrel -Debug:full "${FAILING_ARGUMENTS[@]}"
dump="ostrel-$pid-DebugException-0-0xE06D7363.dmp"
expect_dumps "-Debug:full writes one dump" "$dump"
if [[ -f "$dump" ]]; then
    full_size=$(stat -c %s "$dump")
    ((full_size > normal_size * 4)) || fail "the full dump ($full_size bytes) is not much larger than a normal one"
    [[ $(stat -c %a "$dump") == 600 ]] || fail "the full dump is not private: $(stat -c %a "$dump")"
    object=$(thrown_object "$dump")
    # The heap object that the exception line describes, read from the dump.
    expected=$(grep -oE '16 bytes: [0-9A-F ]+' out.txt | cut -c11- | tr 'A-F' 'a-f')
    read_back=$(lldb_run "$dump" -o "memory read -c 16 $object" | grep -iE "^0x[0-9a-f]+: " | cut -d: -f2 |
        cut -c2-48 | tr -s ' ' | sed 's/ $//')
    [[ -n "$expected" && "$read_back" == "$expected" ]] ||
        fail "lldb reads '$read_back' at $object in the full dump, the console said '$expected'"
    echo "ok: the full dump ($full_size bytes) holds the heap"
fi

echo "== -DisableDebugOutput before and after -Debug"
run ostrel -DisableDebugOutput -Debug "${FAILING_ARGUMENTS[@]}"
expect_lines "-DisableDebugOutput -Debug keeps the exception lines only" <<END
Exception: Module ostrel, $bytes, Type 12ComException
Exception: $FAILING_CODE
END
run ostrel -Debug -DisableDebugOutput "${FAILING_ARGUMENTS[@]}"
expect_lines "-Debug -DisableDebugOutput still forwards" <<END
$trace
Exception: Module ostrel, $bytes, Type 12ComException
Exception: $FAILING_CODE
END

echo "== an unhandled fault"
run ostrel_debuggee -Debug fault
expect_lines "first and last chance are both described" <<END
Exception: 
Exception: 
END
((status == 139)) || fail "the faulting process ended with $status, not by SIGSEGV (139)"
first="ostrel_debuggee-$pid-DebugException-0-0xC0000005.dmp"
last="ostrel_debuggee-$pid-DebugException-1-0xC0000005.dmp"
expect_dumps "two dumps, numbered 0 and 1" "$first" "$last"
if [[ -f "$last" ]]; then
    backtrace=$(lldb_run "$last" -o bt)
    grep -q "stop reason = signal SIGSEGV" <<<"$backtrace" || fail "lldb: not a SIGSEGV: $backtrace"
    grep -qE "frame #0: .*Fault\(\)" <<<"$backtrace" || fail "lldb: frame 0 is not the fault: $backtrace"
fi

echo "== breakpoints, thread names, thrown HRESULTs, other threads"
run ostrel_debuggee -Debug breakpoint thread-name throw-long thread-throw
expect_lines "a breakpoint and a thread name say nothing; thrown longs are HRESULTs" <<END
Exception: Module ostrel_debuggee, HRESULT, 0x80004005
Exception: Module ostrel_debuggee, HRESULT, 0x80070005
done
END
expect_dumps "dumps are counted without gaps and named by the HRESULT" \
    "ostrel_debuggee-$pid-DebugException-0-0x80004005.dmp" "ostrel_debuggee-$pid-DebugException-1-0x80070005.dmp"
dump="ostrel_debuggee-$pid-DebugException-1-0x80070005.dmp"
if [[ -f "$dump" ]]; then
    thread=$("$OBJ2YAML" "$dump" | sed -n 's/^ *Thread ID: *\(0x[0-9A-F]*\)$/\1/p' | head -1)
    ((thread != pid)) || fail "the second thread's exception is recorded on the main thread"
    backtrace=$(lldb_run "$dump" -o bt)
    grep -q "ThrowAndCatch" <<<"$backtrace" || fail "lldb: the second thread's backtrace misses the throw: $backtrace"
fi

echo "== debug strings"
run ostrel_debuggee -Debug output
expect_lines "trimmed, cut at 4,095 characters, narrow text decoded" <<END
Ends with a full stop
Inner\. dots\. stay
x{4095}
narrow text é
done
END

echo "== a child that cannot attach"
gone=$(sh -c 'echo $$')
./ostrel -ParentProcessDebug "$gone" >out.txt 2>err.txt
status=$?
((status != 0)) && grep -qE '^Ostrel: failed with 0x8007[0-9A-F]{4}$' err.txt ||
    fail "attaching to a process that is gone: exit $status, $(cat err.txt)"
echo "ok: attaching to a process that is gone ends with $(cat err.txt)"

echo "== a child that never attaches"
start=$(date +%s%N)
OSTREL_TEST_HANG_CHILD=1 ./ostrel_debuggee -Debug >out.txt 2>err.txt &
parent=$!
# A parent that waited for good would be ended here.
{ sleep 30; kill "$parent" 2>/dev/null; } >/dev/null 2>&1 &
watchdog=$!
wait $parent
status=$?
kill "$watchdog" 2>/dev/null
elapsed=$((($(date +%s%N) - start) / 1000000))
((status == 1)) && [[ ! -s out.txt ]] && grep -qx 'debuggee: failed with 0x800705B4' err.txt ||
    fail "a parent whose child does not attach: exit $status, $(cat out.txt err.txt)"
echo "ok: the parent gave up after $elapsed ms: $(cat err.txt)"
for child in $(pgrep -f "ostrel_debuggee -ParentProcessDebug $parent "); do
    kill "$child"
done

echo "== a child that fails to attach"
if [[ -n $FAILING ]]; then
    rm -f refused.mp4
    # Only the child attaches, so only the child meets the refusal.
    run_sh "OSTREL_FAIL=ptrace LD_PRELOAD=$FAILING exec ./ostrel -Debug -Resolution 64 64 -Duration 1 refused.mp4"
    ((status == 1)) && [[ ! -s out.txt && ! -e refused.mp4 ]] &&
        grep -qx 'Ostrel: failed with 0x80070005' err.txt && grep -qx 'Ostrel: failed with 0x8007042B' err.txt ||
        fail "a run whose debugger cannot attach: exit $status, $(cat out.txt err.txt), $(ls)"
    echo "ok: the run ends, $(tr '\n' ' ' <err.txt)"
else
    echo "skipped: no failing-calls library given"
fi

echo "== a link or a FIFO at a dump's name"
echo secret >target.txt
# The names of dumps 0 and 1 are planted before the program starts as $$.
run_sh 'name="ostrel_debuggee-$$-DebugException"
ln -s target.txt "$name-0-0x80004005.dmp"; mkfifo "$name-1-0x80004005.dmp"
exec ./ostrel_debuggee -Debug throw-long throw-long throw-long'
expect_lines "every throw is described, the failed dumps end nothing" <<END
Exception: Module ostrel_debuggee, HRESULT, 0x80004005
Exception: Module ostrel_debuggee, HRESULT, 0x80004005
Exception: Module ostrel_debuggee, HRESULT, 0x80004005
done
END
name="ostrel_debuggee-$pid-DebugException"
[[ $(cat target.txt) == secret && -L "$name-0-0x80004005.dmp" ]] || fail "the link's target was written"
[[ -p "$name-1-0x80004005.dmp" ]] || fail "the FIFO was replaced"
[[ -f "$name-2-0x80004005.dmp" && ! -L "$name-2-0x80004005.dmp" ]] || fail "no dump after the failed ones"
# The user is told of each dump that is missing, and why.
mapfile -t said <err.txt
((${#said[@]} == 2)) &&
    [[ ${said[0]} == "Ostrel: minidump $here/$name-0-0x80004005.dmp not written: 0x80070005" ]] &&
    [[ ${said[1]} == "Ostrel: minidump $here/$name-1-0x80004005.dmp not written: 0x80070005" ]] ||
    fail "the failed dumps on standard error: $(cat err.txt)"
rm -f target.txt

echo "== a dump that cannot be written whole"
if [[ -n $FAILING ]]; then
    mkdir faulty && cp ostrel_debuggee faulty/
    # Every write into the executable's folder fails, as on a full disk.
    run_sh "OSTREL_FAIL=write OSTREL_FAIL_FOLDER=$work/faulty LD_PRELOAD=$FAILING exec ./faulty/ostrel_debuggee -Debug throw-long"
    expect_lines "the exception is described although its dump fails" <<END
Exception: Module ostrel_debuggee, HRESULT, 0x80004005
done
END
    grep -qE "^Ostrel: minidump $here/faulty/ostrel_debuggee-$pid-DebugException-0-0x80004005\.dmp not written: 0x8007[0-9A-F]{4}$" err.txt ||
        fail "the dump that failed on standard error: $(cat err.txt)"
    leftover=$(ls faulty | grep -v '^ostrel_debuggee$')
    [[ -z $leftover ]] && echo "ok: no dump cut short is left" || fail "a dump cut short was left: $leftover"
    rm -rf faulty
else
    echo "skipped: no failing-calls library given"
fi

echo "== dumps where the user can write them"
# An installed copy run by a user: the executable's folder takes no files,
# the dump goes to the current folder and the user is told where.
if ((EUID == 0)) && command -v setpriv >/dev/null; then
    chmod 755 "$work"
    mkdir installed writable && cp ostrel_debuggee installed/ && chmod 777 writable
    run_sh "cd '$work/writable' && exec setpriv --reuid=65534 --regid=65534 --clear-groups '$work/installed/ostrel_debuggee' -Debug throw-long"
    expect_lines "the exception is described" <<END
Exception: Module ostrel_debuggee, HRESULT, 0x80004005
done
END
    dump="$here/writable/ostrel_debuggee-$pid-DebugException-0-0x80004005.dmp"
    [[ -s $dump && $(stat -c %u "$dump") == 65534 && -z $(ls installed | grep -v '^ostrel_debuggee$') ]] ||
        fail "no dump in the current folder: $(ls -l writable installed)"
    [[ $(cat err.txt) == "Ostrel: minidump $dump written to the current folder: the executable's folder takes no files" ]] ||
        fail "where the dump went, on standard error: $(cat err.txt)"
    rm -rf installed writable
    echo "ok: the dump went to the current folder"
else
    echo "skipped: needs root and setpriv to run as another user"
fi

echo "== a full dump holds the memory in use, not the address space"
run ostrel_debuggee -Debug:full huge throw-long
dump="ostrel_debuggee-$pid-DebugException-0-0x80004005.dmp"
expect_dumps "one dump" "$dump"
if [[ -f "$dump" ]]; then
    size=$(stat -c %s "$dump")
    ((size < 64 << 20)) || fail "the full dump of a process with 64 GiB mapped and 64 pages of it touched has $size bytes"
    echo "ok: $size bytes"
fi

echo "== rethrows are thrown exceptions"
run ostrel_debuggee -Debug rethrow
expect_lines "a throw and its rethrow, twice" <<END
Exception: Module ostrel_debuggee, HRESULT, 0x80004005
Exception: Module ostrel_debuggee, HRESULT, 0x80004005
Exception: Module ostrel_debuggee, HRESULT, 0x8007000E
Exception: Module ostrel_debuggee, HRESULT, 0x8007000E
done
END

echo "== a stack overflow"
run ostrel_debuggee -Debug overflow
((status == 139)) || fail "the overflowing process ended with $status, not by SIGSEGV (139)"
dump="ostrel_debuggee-$pid-DebugException-1-0xC0000005.dmp"
expect_dumps "first and last chance" "ostrel_debuggee-$pid-DebugException-0-0xC0000005.dmp" "$dump"
if [[ -f "$dump" ]]; then
    # By the function's name, which the symbol table gives in every build
    # type; source lines need debug information.
    frames=$(lldb_run "$dump" -o "bt 20" | grep -c 'frame #.*`.*Recurse(')
    ((frames >= 10)) || fail "lldb finds $frames frames of the recursion: $(lldb_run "$dump" -o "bt 20")"
    echo "ok: lldb unwinds $frames frames of the recursion"
fi

echo "== 5,000 short-lived threads under 256 descriptors"
(
    ulimit -n 256
    run ostrel_debuggee -Debug threads throw-long
)
status=$(cat status.txt)
pid=$(cat pid.txt)
expect_lines "the exception after the threads keeps its module" <<END
Exception: Module ostrel_debuggee, HRESULT, 0x80004005
done
END
expect_dumps "and its dump" "ostrel_debuggee-$pid-DebugException-0-0x80004005.dmp"

echo "== executables under unusual paths"
long="$(printf 'l%.0s' {1..120})/$(printf 'm%.0s' {1..120})/$(printf 'n%.0s' {1..120})"
for folder in 'a "quoted" folder' "$long"; do
    mkdir -p "$folder"
    cp ostrel_debuggee "$folder/"
    run "$folder/ostrel_debuggee" -Debug throw-long
    expect_lines "debugged under ${folder:0:20}... (${#folder} characters)" <<END
Exception: Module ostrel_debuggee, HRESULT, 0x80004005
done
END
    [[ -f "$folder/ostrel_debuggee-$pid-DebugException-0-0x80004005.dmp" ]] ||
        fail "no dump beside the executable under ${folder:0:20}..."
    rm -rf "${folder%%/*}"
done

echo "== an executable replaced during the run"
mkdir swap
cp ostrel_debuggee swap/
rm -f go
./swap/ostrel_debuggee -Debug wait throw-long >out.txt 2>err.txt &
pid=$!
wait_until 30 traced "$pid" || fail "no debugger attached"
cp swap/ostrel_debuggee swap/new && mv swap/new swap/ostrel_debuggee
touch go
wait $pid
wait_until 30 eval '! pgrep -f "ParentProcessDebug $pid " >/dev/null'
expect_lines "the module keeps its name" <<END
Exception: Module ostrel_debuggee, HRESULT, 0x80004005
done
END
[[ -f "swap/ostrel_debuggee-$pid-DebugException-0-0x80004005.dmp" ]] ||
    fail "the dump's name changed: $(ls swap)"
rm -rf swap go

echo "== a debugger that cannot be started"
mkdir gone
cp ostrel_debuggee gone/
OSTREL_TEST_REMOVE_SELF=1 ./gone/ostrel_debuggee -Debug throw-long >out.txt 2>err.txt
status=$?
((status == 1)) && [[ ! -s out.txt ]] && grep -qE '^debuggee: failed with 0x8007[0-9A-F]{4}$' err.txt ||
    fail "a run without its debugger: exit $status, $(cat out.txt err.txt)"
echo "ok: $(cat err.txt)"
rm -rf gone

echo "== a stranger's process"
sleep 30 &
stranger=$!
timeout 10 ./ostrel -ParentProcessDebug "$stranger" 0 0 >out.txt 2>err.txt
status=$?
((status == 1)) && grep -qx 'Ostrel: failed with 0x80070005' err.txt ||
    fail "debugging a process that is not the parent: exit $status, $(cat out.txt err.txt)"
kill -0 "$stranger" 2>/dev/null || fail "the stranger is gone"
kill "$stranger"
wait "$stranger" 2>/dev/null
echo "ok: refused"

echo "== Ctrl-C to a debugged run"
start_group out.txt ostrel -Debug -Resolution 64 64 -Duration 600 interrupted.mp4
wait_until 30 traced "$pid" || fail "no debugger attached"
# The debugger outlives a SIGINT of its own, which the group's brings too:
# it ignores the signal, which then never reaches it.
debugger=$(pgrep -f "ParentProcessDebug $pid ")
ignored=$(awk '/^SigIgn:/ {print $2}' "/proc/$debugger/status")
((0x$ignored & 1 << (2 - 1))) || fail "the debugger does not ignore SIGINT (SigIgn $ignored)"
kill -INT "$debugger"
traced "$pid" || fail "the debugger died of SIGINT"
start=$(date +%s%N)
kill -INT -- -"$pid"
wait "$pid"
status=$?
elapsed=$((($(date +%s%N) - start) / 1000000))
((status == 130)) || fail "the interrupted run ended with $status, not 130"
# A hang, not a figure: the time is printed below.
((elapsed < 20000)) || fail "the interrupted run took $elapsed ms to end"
# Standard error's words for the failure ("Ostrel: ...") may follow it.
[[ $(grep -v '^Ostrel: ' out.txt | tail -n1) == "Exception: 0x800704C7" ]] ||
    fail "the interrupted run's last line: $(tail -n2 out.txt)"
wait_until 30 group_gone "$pid" || fail "left behind: $(pgrep -a -g "$pid")"
echo "ok: ended after $elapsed ms"
rm -f interrupted.mp4

echo "== job control of a debugged run"
start_group ticks.txt ostrel_debuggee -Debug ticks
wait_until 30 grep -qs 'tick 5$' ticks.txt || fail "no ticks: $(cat ticks.txt)"
kill -TSTP -- -"$pid"
stopped() { [[ $(ps -o stat= -p "$pid") == [tT]* ]]; }
wait_until 30 stopped || fail "SIGTSTP: not stopped, state '$(ps -o stat= -p "$pid")'"
before=$(grep -c tick ticks.txt)
# Watched for a while: a stopped process ticks no more, however slow the
# machine.
sleep 0.6
after=$(grep -c tick ticks.txt)
state=$(ps -o stat= -p "$pid")
[[ $state == [tT]* && $after == "$before" ]] || fail "SIGTSTP: state '$state', ticks went from $before to $after"
kill -CONT -- -"$pid"
wait "$pid"
status=$?
((status == 0)) && [[ $(grep -c tick ticks.txt) == 100 ]] && grep -qx done ticks.txt ||
    fail "after SIGCONT: exit $status, $(tail -2 ticks.txt)"
wait_until 30 group_gone "$pid" || fail "left behind: $(pgrep -a -g "$pid")"
echo "ok: stopped at tick $before, resumed to the end"

echo "== the run writes the same with and without -Debug"
rm -f plain.mp4 debugged.mp4
./ostrel -Resolution 64 64 -Duration 1 plain.mp4 >/dev/null 2>&1
run ostrel -Debug -Resolution 64 64 -Duration 1 debugged.mp4
if [[ ! -s plain.mp4 || ! -s debugged.mp4 ]]; then
    fail "a run wrote no video: $(cat out.txt)"
elif ! cmp -s plain.mp4 debugged.mp4; then
    fail "the video written under -Debug differs"
else
    echo "ok: same output"
fi

if ((failures)); then
    echo "$failures failed"
    exit 1
fi
echo "all passed"

#!/usr/bin/env bash
# Self-debugging, end to end: runs copies of the tool and of the test program
# that faults on purpose in a scratch folder (minidumps land beside the
# executable), and checks the console, the dumps and what lldb reads in them.
set -u
OSTREL=${1:?usage: debug_test.sh OSTREL_BINARY DEBUGGEE_BINARY}
DEBUGGEE=${2:?usage: debug_test.sh OSTREL_BINARY DEBUGGEE_BINARY}

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
    echo "ok: lldb reads the dump (normal dump: $normal_size bytes)"
fi

echo "== -Debug:full"
run ostrel -Debug:full "${FAILING_ARGUMENTS[@]}"
dump="ostrel-$pid-DebugException-0-0xE06D7363.dmp"
expect_dumps "-Debug:full writes one dump" "$dump"
if [[ -f "$dump" ]]; then
    full_size=$(stat -c %s "$dump")
    ((full_size > normal_size * 4)) || fail "the full dump ($full_size bytes) is not much larger than a normal one"
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
OSTREL_TEST_HANG_CHILD=1 ./ostrel_debuggee -Debug >out.txt 2>&1 &
parent=$!
# A parent that waited for good would be ended here.
{ sleep 30; kill "$parent" 2>/dev/null; } >/dev/null 2>&1 &
watchdog=$!
wait $parent
status=$?
kill "$watchdog" 2>/dev/null
elapsed=$((($(date +%s%N) - start) / 1000000))
((status == 0)) || fail "the parent did not go on without its child (exit $status)"
echo "ok: the parent went on after $elapsed ms"
for child in $(pgrep -f "ostrel_debuggee -ParentProcessDebug $parent "); do
    kill "$child"
done

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

#!/usr/bin/env bash
# -Debug of the Windows executable under Wine: the debugging child forwards
# the trace line, describes the thrown ComException (module, bytes, type)
# and the run's failure follows; GCC's own unwinding exceptions are not
# reported; one minidump lies beside the executable and lldb reads it.
#   wine_debug_test.sh OSTREL_EXE [WINE_ROOT]
# Wine 8 (Debian 12's) crashes the debugged process while it unwinds a C++
# exception; Wine 10 does not. WINE_ROOT (or $OSTREL_WINE_ROOT) is a Debian
# 13 system with Wine 10 (scripts/wine-root.sh makes one), entered with
# chroot as root; without one the test runs the Wine on the path, and skips
# where that is older than Wine 10.
set -u
exe=$(realpath "${1:?usage: wine_debug_test.sh OSTREL_EXE [WINE_ROOT]}")
wine_root=${2:-${OSTREL_WINE_ROOT:-}}
here=$(dirname "$(realpath "$0")")
failures=0

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# Inside (where Wine runs): the runs and their console checks; the dumps
# stay in the folder DUMPS for the checks outside.
if [[ ${3:-} == --inside ]]; then
    work=$(dirname "$exe")
    # shellcheck source=wine.sh
    source "$here/wine.sh"
    trap wine_stop EXIT
    version=$(wine --version 2>/dev/null)
    if [[ ${version#wine-} =~ ^([0-9]+) ]] && ((BASH_REMATCH[1] < 10)); then
        echo "skipped: $version crashes a debugged process that unwinds a C++ exception; give a Wine 10 root"
        exit 77
    fi
    wine_start || exit $?
    cd "$work" || exit 1
    # expect_run NAME ARGS... <<<LINES: the run fails with status 1 and
    # prints these lines (extended regular expressions), each with CR LF.
    expect_run() {
        local name=$1 expected actual index ok=1
        shift
        rm -f ./*.dmp
        wine_run 120 ostrel.exe "$@"
        mapfile -t expected
        mapfile -t actual <out.txt
        ((status == 1)) || ok=0
        ((${#expected[@]} == ${#actual[@]})) || ok=0
        for ((index = 0; ok && index < ${#expected[@]}; ++index)); do
            [[ ${actual[index]} =~ ^${expected[index]}$'\r'$ ]] || ok=0
        done
        if ((ok)); then
            echo "ok: $name"
        else
            fail "$name: status $status, output:"
            cat out.txt
        fi
    }
    trace='Context\.cpp\([0-9]+\): Application::Context::Context: Throwing an exception, 0x887A0002, expression m_DxgiFactory->EnumAdapters1\(m_Configuration\.m_DxgiAdapterIndex, m_DxgiAdapter1\.GetAddressOf\(\)\)'
    # The ComException's bytes: its virtual-table pointer, then the HRESULT.
    thrown='Exception: Module ostrel\.exe, 16 bytes: ([0-9A-F]{2} ){8}02 00 7A 88( [0-9A-F]{2}){4}, Type 12ComException'
    expect_run "-DisableDebugOutput -Debug: the exception lines only" -DisableDebugOutput -Debug -AdapterIndex 99 out.mp4 <<END
$thrown
Exception: 0x887A0002
END
    expect_run "-Debug: trace line, exception line, failure line" -Debug -AdapterIndex 99 out.mp4 <<END
$trace
$thrown
Exception: 0x887A0002
END
    dumps=$(ls ./*.dmp 2>/dev/null | tr '\n' ' ')
    [[ $dumps =~ ^\./ostrel\.exe-[0-9]+-DebugException-0-0xE06D7363\.dmp\ $ ]] ||
        fail "one dump for the ComException beside the executable expected, found: ${dumps:-none}"
    ((failures)) && exit 1
    exit 0
fi

# Outside: the runs where Wine is, then the dump through lldb.
stage=$(mktemp -d "${wine_root:-${TMPDIR:-/tmp}}${wine_root:+/tmp}/ostrel-debug.XXXXXX") || exit 1
mounted=()
cleanup() {
    local target
    for target in "${mounted[@]}"; do umount "$target"; done
    rm -rf "$stage"
}
trap cleanup EXIT
cp "$exe" "$here/wine.sh" "$0" "$stage/"
if [[ -n $wine_root ]]; then
    if (($(id -u) != 0)) || ! command -v chroot >/dev/null; then
        echo "skipped: entering $wine_root takes root and chroot"
        exit 77
    fi
    [[ -x $wine_root/usr/bin/wine ]] || { echo "FAIL: no Wine in $wine_root"; exit 1; }
    # What Wine needs of the system inside: processes, devices, shared memory.
    for target in proc dev dev/pts dev/shm; do
        mountpoint -q "$wine_root/$target" && continue
        case $target in
        proc) mount -t proc proc "$wine_root/proc" ;;
        dev/shm) mount -t tmpfs shm "$wine_root/dev/shm" ;;
        *) mount --bind "/$target" "$wine_root/$target" ;;
        esac && mounted=("$wine_root/$target" "${mounted[@]}")
    done
    inside=${stage#"$wine_root"}
    timeout -k 10 600 chroot "$wine_root" /usr/bin/env -i PATH=/usr/bin:/bin HOME=/root \
        bash "$inside/$(basename "$0")" "$inside/ostrel.exe" "" --inside
else
    timeout -k 10 600 bash "$stage/$(basename "$0")" "$stage/ostrel.exe" "" --inside
fi
status=$?
((status == 0)) || exit $status

dump=$(ls "$stage"/*.dmp)
export PYTHONPATH=/usr/lib/llvm-14/lib/python3.11/dist-packages
read_back=$(timeout 120 lldb -b -c "$dump" -o "thread list" -o "image list" </dev/null 2>&1)
grep -q "stop reason = Exception 0xe06d7363" <<<"$read_back" || fail "lldb: no thrown-object exception: $read_back"
grep -qE "0x0*140000000 .*ostrel\.exe" <<<"$read_back" || fail "lldb: ostrel.exe not at its image base: $read_back"
((failures)) && exit 1
echo "ok: lldb reads the dump: the exception and the executable's module"

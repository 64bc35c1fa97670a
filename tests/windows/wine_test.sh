#!/usr/bin/env bash
# The Windows executable: what the file holds (resources, imports), then
# runs under Wine, each with a time limit: the shim tests, the syntax (the Linux build's
# text with CR LF line ends), the adapter list, a failing adapter index, a
# bad command line and an encoding run, which no Wine can do yet.
#   wine_test.sh OSTREL_EXE LINUX_OSTREL SHADER_SOURCE
set -u
exe=$(realpath -m "${1:?usage: wine_test.sh OSTREL_EXE LINUX_OSTREL SHADER_SOURCE}")
linux=$(realpath "${2:?usage: wine_test.sh OSTREL_EXE LINUX_OSTREL SHADER_SOURCE}")
shader=$(realpath "${3:?usage: wine_test.sh OSTREL_EXE LINUX_OSTREL SHADER_SOURCE}")
here=$(dirname "$(realpath "$0")")
if [[ ! -f $exe ]] && ! command -v x86_64-w64-mingw32-windres >/dev/null; then
    echo "skipped: mingw-w64 is not installed, nor the executable built"
    exit 77
fi
[[ -f $exe ]] || { echo "FAIL: $exe is not built"; exit 1; }
failures=0
work=$(mktemp -d)
# shellcheck source=wine.sh
source "$here/wine.sh"
trap 'wine_stop; rm -rf "$work"' EXIT

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# The shader resource: RCDATA 105 of language 1033 (9, 1), as the resource
# compiler reads it back, holding the source with CR LF line ends (the data
# of the second entry of the resource file, after the empty first).
x86_64-w64-mingw32-windres -i "$exe" -O rc -o "$work/resources.rc" &&
    x86_64-w64-mingw32-windres -i "$exe" -O res -o "$work/resources.res" || fail "windres cannot read the resources"
language=$(awk '/^LANGUAGE/ { language = $0 } /^105 RCDATA/ { print language }' "$work/resources.rc")
sed 's/\r*$/\r/' "$shader" >"$work/shader.crlf"
size=$(od -An -tu4 -j 32 -N 4 "$work/resources.res" | tr -d ' ')
if [[ $language != "LANGUAGE 9, 1" ]]; then
    fail "no RCDATA 105 of language 1033: ${language:-none}"
elif ! tail -c +65 "$work/resources.res" | head -c "$size" | cmp -s - "$work/shader.crlf"; then
    fail "resource 105 ($size bytes) is not the shader source with CR LF line ends ($(wc -c <"$work/shader.crlf") bytes)"
else
    echo "ok: the shader is RCDATA 105, language 1033, CR LF, $size bytes"
fi

# Only the system's DLLs, and nothing that Windows 10 has and older
# systems or Wine lack (looked up at run time instead).
imports=$(x86_64-w64-mingw32-objdump -p "$exe")
dlls=$(grep -oP 'DLL Name: \K.*' <<<"$imports" | tr 'A-Z' 'a-z' | sort | tr '\n' ' ')
system='advapi32.dll api-ms-win-core-winrt-l1-1-0.dll d3d11.dll d3dcompiler_47.dll dbghelp.dll dxgi.dll kernel32.dll mfplat.dll mfreadwrite.dll msvcrt.dll ntdll.dll ole32.dll shell32.dll shlwapi.dll '
[[ $dlls == "$system" ]] || fail "imports: $dlls, expected the system's: $system"
grep -qE '\bWaitForDebugEventEx\b' <<<"$imports" && fail "WaitForDebugEventEx is imported: the executable would not load without it"
((failures)) || echo "ok: imports only system DLLs"

wine_start || exit $?
mkdir "$work/run" && cd "$work/run" || exit 1
cp "$exe" ostrel.exe

# The shims in use by the tool's classes (ShimTest.cpp).
wine_run 120 "$(dirname "$exe")/ostrel_windows_tests.exe"
if ((status != 0)); then
    fail "the shim tests: status $status"
    cat out.txt err.txt
else
    echo "ok: the shim tests pass"
fi

# run_case NAME ARGS...: the tool under Wine (one minute at most); a hang
# fails the case.
run_case() {
    local name=$1
    shift
    rm -f out.mp4
    wine_run 60 ostrel.exe "$@"
    ((status == 124)) && fail "$name: no end within 60 seconds"
}

run_case syntax -?
"$linux" -? >linux.txt
if ((status != 0)); then
    fail "-? exits $status"
elif grep -qv $'\r$' out.txt; then
    fail "-? writes lines without CR LF: $(grep -v $'\r$' out.txt | head -1)"
elif ! tr -d '\r' <out.txt | cmp -s - linux.txt; then
    fail "-? differs from the Linux build's syntax: $(tr -d '\r' <out.txt | diff - linux.txt | head -5)"
else
    echo "ok: -? prints the Linux build's syntax with CR LF"
fi

run_case adapters -ea
adapter='^0: .+, Vendor 0x[0-9A-F]{4}, Adapter -?[0-9]+\.[0-9A-F]{8}(, Flags 0x[0-9A-F]+)?$'
if ((status != 0)) || (($(wc -l <out.txt) != 1)) || ! grep -q $'\r$' out.txt || ! tr -d '\r' <out.txt | grep -qE "$adapter"; then
    fail "-ea: status $status, output: $(cat out.txt)"
else
    echo "ok: -ea lists one adapter: $(tr -d '\r' <out.txt)"
fi

run_case "adapter 99" -AdapterIndex 99 out.mp4
if ((status != 1)) || [[ $(cat out.txt) != $'Exception: 0x887A0002\r' ]] || [[ -e out.mp4 ]]; then
    fail "-AdapterIndex 99: status $status, output: $(cat out.txt)$([[ -e out.mp4 ]] && echo ', out.mp4 left')"
else
    echo "ok: -AdapterIndex 99 fails with 0x887A0002, status 1"
fi

run_case "bad command line" -Resolution 320
if ((status != 1)) || [[ -s out.txt ]] || ! grep -q $'^Ostrel: failed with 0x80070057\r$' err.txt; then
    fail "-Resolution 320: status $status, output: $(cat out.txt), errors: $(grep Ostrel err.txt)"
else
    echo "ok: a missing argument fails with 0x80070057, status 1"
fi

# Wine's Media Foundation has no working sink writer yet (and Wine 8's HLSL
# compiler rejects the shader): the run must say so and leave nothing. A
# Wine that can encode shows up here as a change.
run_case encoding -Resolution 320 180 -Duration 1 out.mp4
left=$(ls -A | grep -vxE 'ostrel.exe|out.txt|err.txt|linux.txt')
if ((status != 1)) || ! grep -qE $'^Exception: 0x[0-9A-F]{8}\r$' out.txt || [[ -n $left ]]; then
    fail "encoding under Wine: status $status, output: $(cat out.txt), left behind: ${left:-nothing}"
else
    echo "ok: encoding under this Wine fails as expected: $(tr -d '\r' <out.txt), status 1, no file left"
fi

((failures)) && exit 1
echo "all Windows checks passed"

#!/usr/bin/env bash
# The tool's code against the Windows SDK: every source of src/ and every
# header on its own, compiled for Windows by mingw-w64's GCC against
# mingw-w64's headers (not this platform's), with the shims of windows-sdk/
# for what mingw-w64 lacks. Syntax and types only; nothing is linked.
#   windows_sdk_test.sh SOURCE_ROOT [FLAG...]   (the tool's own definitions)
set -u
root=$(cd "${1:?usage: windows_sdk_test.sh SOURCE_ROOT [FLAG...]}" && pwd)
compiler=${OSTREL_WINDOWS_COMPILER:-x86_64-w64-mingw32-g++-posix}
if ! command -v "$compiler" >/dev/null; then
    echo "skipped: $compiler is not installed (scripts/setup.sh installs it)"
    exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '%s\n' "${@:2}" >"$work/flags"

# One file: a source as it is, a header through a unit that includes it
# alone. Prints the failure and leaves a mark in the work folder.
check() {
    local file=$1 unit=$1 mark flags
    mark=$work/$(echo "$file" | tr / _)
    mapfile -t flags < <(grep . "$work/flags")
    if [[ $file == *.h ]]; then
        unit=$mark.cpp
        echo "#include \"$file\"" >"$unit"
    fi
    if ! "$compiler" -std=c++20 -fsyntax-only -Wall -Wextra -Werror -DUNICODE -D_UNICODE -DWINVER=0x0A00 \
            -D_WIN32_WINNT=0x0A00 "${flags[@]}" -I "$root/tests/source/windows-sdk" -I "$root/src" "$unit" \
            2>"$mark.errors"; then
        { echo "FAIL: ${file#"$root"/}"; head -20 "$mark.errors"; } >"$mark.failed"
    fi
}
export -f check
export root compiler work

files=$(find "$root/src" \( -name '*.cpp' -o -name '*.h' \) | sort)
echo "$files" | xargs -P "$(nproc)" -I{} bash -c 'check "$1"' _ {}
count=$(echo "$files" | wc -l)
failed=$(find "$work" -name '*.failed' | wc -l)
if ((failed)); then
    cat "$work"/*.failed
    echo "$failed of $count files do not compile against the Windows SDK"
    exit 1
fi
echo "ok: $count files of the tool compile against the Windows SDK ($compiler)"

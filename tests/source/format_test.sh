#!/usr/bin/env bash
# The sources follow the house style of .clang-format:   format_test.sh SOURCE_ROOT
# Formatting differs between clang-format releases; the style is kept with
# release 14 (Debian 12's), and the check skips without it.
set -u
root=${1:?usage: format_test.sh SOURCE_ROOT}
formatter=$(command -v clang-format-14 || command -v clang-format) || {
    echo "SKIP: clang-format is not installed"
    exit 77
}
if ! "$formatter" --version | grep -q 'version 14\.'; then
    echo "SKIP: $("$formatter" --version) is not release 14"
    exit 77
fi
cd "$root" || exit 1
mapfile -t files < <(find src platform tests bench windows \( -name '*.cpp' -o -name '*.h' \) | sort)
"$formatter" --dry-run --Werror "${files[@]}" || {
    echo "FAIL: run $formatter -i on the files above"
    exit 1
}
echo "${#files[@]} files follow .clang-format"

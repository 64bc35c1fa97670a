#!/usr/bin/env bash
# Builds the Windows executable and its test program into DIR (warnings as
# errors) and the executable's ZIP package, which must hold ostrel.exe as
# built and README-Windows.txt with CR LF line ends; skips where mingw-w64
# is not installed.
#   build_test.sh SOURCE_ROOT DIR
set -u
root=${1:?usage: build_test.sh SOURCE_ROOT DIR}
dir=$(realpath -m "${2:?usage: build_test.sh SOURCE_ROOT DIR}")
if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
    echo "skipped: mingw-w64 is not installed (scripts/setup.sh installs it)"
    exit 77
fi
started=$SECONDS
"$root/scripts/build-windows.sh" "$dir" || exit 1
cmake --build "$dir" --target ostrel_windows_tests || exit 1
echo "ok: $dir/ostrel.exe and its test program built in $((SECONDS - started)) s"

failures=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rm -f "$dir"/ostrel-*-win64.zip
(cd "$dir" && cpack -G ZIP >/dev/null) || { echo "FAIL: cpack -G ZIP"; exit 1; }
package=$(ls "$dir"/ostrel-*-win64.zip)
(cd "$work" && cmake -E tar xf "$package") || { echo "FAIL: $package does not unpack"; exit 1; }
contents=$(cd "$work" && find . -type f | sort | tr '\n' ' ')
if [[ $contents != "./README-Windows.txt ./ostrel.exe " ]]; then
    echo "FAIL: $package holds $contents"
    failures=$((failures + 1))
fi
if ! cmp -s "$work/ostrel.exe" "$dir/ostrel.exe"; then
    echo "FAIL: the packaged ostrel.exe is not the one built"
    failures=$((failures + 1))
fi
if grep -qv $'\r$' "$work/README-Windows.txt" || ! grep -q "^Ostrel [0-9.]* for Windows" "$work/README-Windows.txt"; then
    echo "FAIL: README-Windows.txt has lines without CR LF or no version"
    failures=$((failures + 1))
fi
((failures)) && exit 1
echo "ok: $(basename "$package") holds ostrel.exe and README-Windows.txt"

#!/usr/bin/env bash
# The Debian package and its -dbgsym package: built with CPack from the
# build folder, held to lintian (any error or warning fails), their fields,
# files and manual page checked, then unpacked with dpkg-deb -x into a
# scratch folder (not installed) and the tool run from there.
#   package_test.sh BUILD_FOLDER
set -u
build=$(realpath "${1:?usage: package_test.sh BUILD_FOLDER}")
failures=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
pass() { echo "ok: $*"; }

if ! command -v dpkg-deb >/dev/null || ! command -v dpkg-shlibdeps >/dev/null; then
    echo "skipped: dpkg-deb and dpkg-shlibdeps are needed"
    exit 77
fi
for tool in lintian man; do
    command -v $tool >/dev/null || {
        echo "FAIL: $tool is needed (scripts/setup.sh test installs it)"
        exit 1
    }
done
(cd "$build" && cpack -G DEB -B "$work/package" >"$work/cpack.txt" 2>&1) || {
    fail "cpack: $(tail -5 "$work/cpack.txt")"
    exit 1
}
debs=("$work"/package/ostrel_*.deb) ddebs=("$work"/package/ostrel-dbgsym_*.ddeb)
if [[ ${#debs[@]} != 1 || ! -f ${debs[0]} || ${#ddebs[@]} != 1 || ! -f ${ddebs[0]} ]]; then
    fail "cpack made $(ls "$work/package"), not one ostrel and one ostrel-dbgsym package"
    exit 1
fi
deb=${debs[0]} ddeb=${ddebs[0]}

# lintian, as Debian's archive runs it: errors and warnings fail.
for package in "$deb" "$ddeb"; do
    lintian --fail-on error,warning "$package" >"$work/lintian.txt" 2>&1
    status=$?
    report=$(grep -v '^running with root privileges' "$work/lintian.txt")
    if [[ $status == 0 && -z $report ]]; then
        pass "lintian has nothing to say of $(basename "$package")"
    else
        fail "lintian on $(basename "$package"): $(grep -c '^E:' <<<"$report") errors, $(grep -c '^W:' <<<"$report") warnings:
$report"
    fi
done

# The fields.
field() { dpkg-deb -f "$deb" "$1"; }
depends=$(field Depends)
for needed in 'mesa-vulkan-drivers | vulkan-icd' libvulkan1 libavcodec libavformat libswscale liblttng-ust; do
    [[ $depends == *"$needed"* ]] || fail "Depends lacks $needed: $depends"
done
# x264 comes with libavcodec; the package names no version of it itself.
[[ $depends != *libx264* ]] || fail "Depends names x264, which libavcodec brings: $depends"
pass "the package depends on: $depends"
suggests=$(field Suggests)
for wanted in lttng-tools 'lldb | gdb' va-driver-all libnvidia-encode1; do
    [[ $suggests == *"$wanted"* ]] || fail "Suggests lacks $wanted: $suggests"
done
# Built-Using names the versions of the statically linked sources that the
# tool was built with.
built_using=$(field Built-Using)
expected=$(dpkg-query -W -f '${source:Package} (= ${source:Version}), ' glslang-dev spirv-tools)
if [[ $built_using == "${expected%, }" ]]; then
    pass "Built-Using: $built_using"
else
    fail "Built-Using is '$built_using', not '${expected%, }'"
fi

# No maintainer scripts: nothing to do at installation, ldconfig least of
# all for a private library.
scripts=$(dpkg-deb --ctrl-tarfile "$deb" | tar -t | grep -E '(pre|post)(inst|rm)$|triggers$')
[[ -z $scripts ]] || fail "the package has maintainer scripts: $scripts"

dpkg-deb -x "$deb" "$work/root"
dpkg-deb -x "$ddeb" "$work/dbgsym"

# md5sums lists every file by its path in the package, in both packages.
for package in "$deb" "$ddeb"; do
    tree=$work/root
    [[ $package == "$ddeb" ]] && tree=$work/dbgsym
    sums=$(dpkg-deb -I "$package" md5sums)
    if checked=$(cd "$tree" && md5sum --quiet -c - <<<"$sums" 2>&1) && [[ $sums != *"  /"* ]] &&
        [[ $(wc -l <<<"$sums") == $(find "$tree" -type f | wc -l) ]]; then
        pass "md5sums of $(basename "$package") lists its files"
    else
        fail "md5sums of $(basename "$package"): $checked$(grep -m1 '  /' <<<"$sums")"
    fi
done

# The changelog's latest entry is this version.
changelog=$(zcat "$work/root/usr/share/doc/ostrel/changelog.Debian.gz" | head -1)
[[ $changelog == "ostrel ($(field Version)) "* ]] ||
    fail "the changelog's latest entry is not for $(field Version): $changelog"

# The copyright file in the machine-readable format: every licence that a
# Files paragraph names has its own License paragraph with its text, and
# the statically linked glslang and SPIRV-Tools are there.
copyright=$work/root/usr/share/doc/ostrel/copyright
licences=$(awk '
    /^$/ { files = 0 }
    /^Files:/ { files = 1 }
    files && /^License:/ { sub(/^License: */, ""); n = split($0, names, / (and|or) /); for (i = 1; i <= n; i++) used[names[i]] = 1 }
    !files && /^License: / { name = $2; getline; if ($0 ~ /^ /) texts[name] = 1 }
    END { for (name in used) if (!(name in texts)) print "no text for " name }' "$copyright")
if [[ $(head -1 "$copyright") != "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" ]]; then
    fail "the copyright file is not in the machine-readable format: $(head -1 "$copyright")"
elif [[ -n $licences ]]; then
    fail "the copyright file: $licences"
elif ! grep -q '^Files: glslang/\*' "$copyright" || ! grep -q '^Files: spirv-tools/\*' "$copyright"; then
    fail "the copyright file does not name glslang and SPIRV-Tools"
else
    pass "the copyright file names every licence with its text"
fi

# Stripped binaries, their symbols in ostrel-dbgsym under their build IDs.
for binary in usr/lib/ostrel/ostrel usr/lib/ostrel/libostrel-lttng.so; do
    id=$(readelf -n "$work/root/$binary" | sed -n 's/.*Build ID: \([0-9a-f]*\)/\1/p')
    debug=$work/dbgsym/usr/lib/debug/.build-id/${id:0:2}/${id:2}.debug
    if readelf -S "$work/root/$binary" | grep -q -E '\.symtab|\.debug_info'; then
        fail "$binary is not stripped"
    elif [[ -z $id || ! -f $debug ]]; then
        fail "no symbols for $binary (build ID '$id') in ostrel-dbgsym"
    elif ! readelf -S "$debug" 2>/dev/null | grep -q '\.debug_info' || ! nm "$debug" | grep -q -E ' [Tt] '; then
        fail "the symbols of $binary in ostrel-dbgsym have no debugging information"
    else
        pass "$binary is stripped, its symbols in ostrel-dbgsym"
    fi
done
# lldb, as it would for a minidump, finds the stripped tool's lines through
# the build ID in the folder where ostrel-dbgsym puts them.
if command -v lldb >/dev/null; then
    lookup=$(PYTHONPATH=/usr/lib/llvm-14/lib/python3.11/dist-packages lldb -b \
        -o "settings set target.debug-file-search-paths $work/dbgsym/usr/lib/debug" \
        -o "target create $work/root/usr/lib/ostrel/ostrel" -o "image lookup -v -n main" 2>&1)
    if [[ $lookup == *"LineEntry:"*"src/Module/Main.cpp:"* ]]; then
        pass "lldb finds the tool's source lines in ostrel-dbgsym"
    else
        fail "lldb found no source line for main with ostrel-dbgsym: $lookup"
    fi
fi
[[ $(dpkg-deb -f "$ddeb" Depends) == "ostrel (= $(field Version))" ]] ||
    fail "ostrel-dbgsym depends on '$(dpkg-deb -f "$ddeb" Depends)'"

tool=$work/root/usr/bin/ostrel
[[ -L $tool && $(readlink "$tool") == ../lib/ostrel/ostrel ]] || fail "bin/ostrel is not the relative link: $(ls -l "$tool")"
[[ -f $work/root/usr/lib/ostrel/libostrel-lttng.so ]] || fail "the trace provider is not beside the tool"

# The manual page renders without a warning from man or groff, and names
# every option of the tool's syntax.
page=$work/root/usr/share/man/man1/ostrel.1.gz
rendered=$(MANWIDTH=80 man --warnings -l "$page" 2>"$work/man.txt")
if [[ -s $work/man.txt || $rendered != *"render an animated picture"* ]]; then
    fail "man -l ostrel.1.gz: $(cat "$work/man.txt")"
else
    pass "the manual page renders without warnings"
fi
missing=()
for option in $("$tool" "-?" | sed -n 's/^  \(-[A-Za-z]*\).*/\1/p'); do
    grep -q -e "^ *$option\b" <<<"$rendered" || missing+=("$option")
done
if ((${#missing[@]})) || [[ -z $("$tool" "-?" | sed -n 's/^  \(-[A-Za-z]*\).*/\1/p') ]]; then
    fail "the manual page does not describe: ${missing[*]:-(no syntax read)}"
else
    pass "the manual page describes every option of the syntax"
fi
[[ $rendered == *"Ostrel $("$tool" --version | sed -n 's/^Ostrel //p')"* ]] ||
    fail "the manual page is not for $("$tool" --version)"

listing=$("$tool" -ea 2>/dev/null)
if [[ $? == 0 && $listing =~ ^0:\ .+,\ Vendor\ 0x ]]; then
    pass "the unpacked tool lists the adapters"
else
    fail "-ea from the package: $listing"
fi
# Started through the link, the tool loads the provider from beside itself.
if LD_DEBUG=files "$tool" -ea 2>&1 >/dev/null | grep -q "file=$work/root/usr/lib/ostrel/libostrel-lttng.so "; then
    pass "the tool loads its trace provider from beside itself"
else
    fail "the unpacked tool did not load $work/root/usr/lib/ostrel/libostrel-lttng.so"
fi
output=$(cd "$work" && "$tool" -Resolution 160 90 -Duration 1 packaged.mp4 2>&1)
if [[ $? == 0 && $output =~ ^Elapsed\ Time: ]] && ffprobe -v error "$work/packaged.mp4"; then
    pass "the unpacked tool writes a video: $output"
else
    fail "an encoding run from the package: $output"
fi

if ((failures)); then
    echo "$failures failed"
    exit 1
fi
echo "all passed"

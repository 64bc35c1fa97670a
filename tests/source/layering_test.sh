#!/usr/bin/env bash
# The layers, checked on the sources:   layering_test.sh [--quiet] SOURCE_ROOT
# The build runs it before it compiles anything (quiet unless it fails), and
# ctest runs it again.
# - the tool (src/) includes its own headers, the platform's SDK-named
#   headers (platform/include/) and the language's standard headers only, and
#   diagnostics/ includes nothing of the application (Module/);
# - platform/include/ holds SDK-named headers that include nothing else;
# - platform libraries reach each other through interface/ folders only;
# - only vulkan/ records Vulkan commands or calls Vulkan, and vulkan/ knows
#   nothing of DXGI or Direct3D;
# - the back ends (cuda/, ffmpeg/, ptrace/, vulkan/) include no SDK-named
#   header and speak their own results (CUresult; FfmpegError, AVERROR and
#   errno; pid_t, siginfo_t and errno; VkResult), not HRESULTs;
# - the libraries' USES graph has no cycle, and no back end uses a front;
# - no include leaves its library's folder by a relative path;
# - a library's tests include its own headers and the interfaces of what it
#   uses, the tool's tests the SDK's names only.
set -u
quiet=0
if [[ ${1:-} == --quiet ]]; then
    quiet=1
    shift
fi
root=${1:?usage: layering_test.sh [--quiet] SOURCE_ROOT}
platform=$root/platform
sdk=$platform/include
failures=0

fail() {
    echo "FAIL: $1:"
    echo "$2"
    failures=1
}

# The include directives of files, as "file:line:name" with the quotes or
# angle brackets kept.
includes() {
    grep -rnoE '^\s*#\s*include\s*[<"][^">]+[">]' "$@" --include='*.h' --include='*.cpp' |
        sed -E 's/#\s*include\s*//; s/:\s+/:/'
}

# A standard header of the language: a name without an extension.
standard() { [[ $1 =~ ^\<[a-z_]+\>$ ]]; }

# The SDK folder: each header includes standard headers and its neighbours.
bad=""
while IFS=: read -r file line name; do
    inner=${name:1:-1}
    standard "$name" || [[ ${name:0:1} == "<" && -f $sdk/$inner ]] || bad+="$file:$line: $name"$'\n'
done < <(includes "$sdk")
[[ -z $bad ]] || fail "platform/include/ includes what the SDK does not hold" "$bad"

# The tool: its own headers, the SDK's and the standard ones.
bad=""
while IFS=: read -r file line name; do
    inner=${name:1:-1}
    if [[ ${name:0:1} == '"' ]]; then
        [[ -f $root/src/$inner || -f $(dirname "$file")/$inner ]] && [[ $inner != *..* ]] || bad+="$file:$line: $name"$'\n'
    else
        standard "$name" || [[ -f $sdk/$inner ]] || bad+="$file:$line: $name"$'\n'
    fi
done < <(includes "$root/src")
[[ -z $bad ]] || fail "the tool includes what is neither its own, the SDK's nor standard" "$bad"

application=$(includes "$root/src/diagnostics" | grep -E ':"(Module/|\.\./)')
[[ -z $application ]] || fail "diagnostics/ includes the application" "$application"

# Libraries: another library's folder only through its interface/.
private=$(includes "$platform" | grep -v "^$sdk/" | grep -E ':"(\.\./|[a-z0-9]+/)')
[[ -z $private ]] || fail "a platform library includes another library's own headers" "$private"

# Vulkan calls (vkSomething( ), outside the back end.
calls=$(grep -rnE '\bvk[A-Z][A-Za-z0-9]*\(' "$platform" --include='*.cpp' --include='*.h' | grep -v "^$platform/vulkan/")
[[ -z $calls ]] || fail "Vulkan called outside vulkan/" "$calls"
# DXGI and Direct3D inside the back end.
notions=$(grep -rnE '#include .*(d3d11|d3dcommon|d3d10|dxgi)|\bD3D|\bDXGI_' "$platform/vulkan")
[[ -z $notions ]] || fail "DXGI or Direct3D in vulkan/" "$notions"

# The back ends: no Windows header, and no Windows result, handle or event.
for backend in cuda ffmpeg ptrace vulkan; do
    windows=$(includes "$platform/$backend" | grep -E ':<([a-z0-9_]+\.h|[a-z]+/[^>]+)>' | while IFS=: read -r file line name; do
        [[ -f $sdk/${name:1:-1} ]] && echo "$file:$line: $name"
    done)
    windows+=$(grep -rnE '\b(HRESULT|HANDLE|DEBUG_EVENT|S_OK)\b|\bMF_E_|\bE_(FAIL|INVALIDARG|OUTOFMEMORY|UNEXPECTED|NOTIMPL|POINTER|ACCESSDENIED)\b' \
        "$platform/$backend" --include='*.cpp' --include='*.h')
    [[ -z $windows ]] || fail "Windows names in $backend/" "$windows"
done

# The libraries' graph, from the USES lists of their CMakeLists.txt: as
# "library used" pairs (a library with no USES stands alone as "library
# library", which tsort accepts).
uses() {
    local file
    for file in "$platform"/*/CMakeLists.txt; do
        tr '\n' ' ' <"$file" | grep -oE 'ostrel_platform_library\([^)]*\)' |
            sed -E 's/ostrel_platform_library\(\s*//; s/\)$//' |
            awk '{ name = $1; seen = 0; listed = 0
                   for (i = 2; i <= NF; ++i) {
                       if ($i == "USES") { seen = 1; continue }
                       if ($i == "SOURCES") { seen = 0; continue }
                       if (seen) { print name, $i; listed = 1 }
                   }
                   if (!listed) print name, name }'
    done
}
graph=$(uses)
[[ -n $graph ]] || fail "no library found in platform/*/CMakeLists.txt" "$platform"
cycle=$(tsort <<<"$graph" 2>&1 >/dev/null)
[[ -z $cycle ]] || fail "the libraries' USES graph has a cycle" "$cycle"
# The back ends own a Linux library and speak its language: they use other
# back ends at most, never a Windows-named front.
backends="cuda ffmpeg lttng_interface ptrace vulkan"
fronts="com crt d3d11 d3dcompiler dbghelp dxgi etw mf win32"
upward=$(while read -r library used; do
    [[ " $backends " == *" $library "* && " $fronts " == *" $used "* ]] && echo "$library uses $used"
done <<<"$graph")
[[ -z $upward ]] || fail "a back end uses a front library" "$upward"

# Relative includes that climb out of a folder: a library reaches another
# through its interface, and the tool through the SDK's names.
climbing=$(includes "$root/src" "$platform" | grep -F '"../')
[[ -z $climbing ]] || fail "an include climbs out of its folder" "$climbing"

# Tests: a library's tests see its own headers and the interfaces of what it
# uses; the tool's tests see the SDK's names, bar the one trace-session seam.
declare -A owner # interface folder -> the library, as USES names it
while read -r folder; do
    library=${folder#"$platform"/}
    library=${library%%/*}
    [[ $library == lttng ]] && library=lttng_interface
    owner[$(basename "$folder")]=$library
done < <(find "$platform" -mindepth 3 -maxdepth 3 -path '*/interface/*' -type d)
if [[ -d $root/tests/platform ]]; then
    bad=""
    for folder in "$root"/tests/platform/*/; do
        library=$(basename "$folder")
        allowed=" $library $(awk -v l="$library" '$1 == l && $2 != l { printf "%s ", $2 }' <<<"$graph")"
        [[ $library == lttng ]] && allowed+=" lttng_interface "
        while IFS=: read -r file line name; do
            inner=${name:1:-1}
            first=${inner%%/*}
            [[ $inner == */* ]] || continue
            if [[ -d $platform/$first && $first != include ]]; then
                [[ $first == "$library" ]] || bad+="$file:$line: $name"$'\n'
            elif [[ -n ${owner[$first]:-} ]]; then
                [[ $allowed == *" ${owner[$first]} "* ]] || bad+="$file:$line: $name"$'\n'
            elif [[ -d $root/src/$first ]]; then
                bad+="$file:$line: $name"$'\n'
            fi
        done < <(includes "$folder")
    done
    [[ -z $bad ]] || fail "a library's test includes what its library neither holds nor uses" "$bad"

    tool=$(includes "$root/tests"/*.cpp "$root/tests/Module" "$root/tests/diagnostics" |
        grep -v '/TraceSessionTest.cpp:' | while IFS=: read -r file line name; do
            inner=${name:1:-1}
            first=${inner%%/*}
            [[ $inner == */* ]] || continue
            if [[ -d $platform/$first && $first != include || -n ${owner[$first]:-} ]]; then
                echo "$file:$line: $name"
            fi
        done)
    [[ -z $tool ]] || fail "a test of the tool reaches behind the SDK's names" "$tool"
fi

((failures)) && exit 1
((quiet)) && exit 0
echo "ok: the tool sees the SDK's names only, the libraries meet through their interfaces and form no cycle, Vulkan stays in vulkan/ and the back ends speak their own errors"

#!/usr/bin/env bash
# The layers, checked on the sources:   layering_test.sh SOURCE_ROOT
# - the tool (src/) includes its own headers, the platform's SDK-named
#   headers (platform/include/) and the language's standard headers only, and
#   diagnostics/ includes nothing of the application (Module/);
# - platform/include/ holds SDK-named headers that include nothing else;
# - platform libraries reach each other through interface/ folders only;
# - only vulkan/ records Vulkan commands or calls Vulkan, and vulkan/ knows
#   nothing of DXGI or Direct3D;
# - cuda/ and vulkan/, the back ends, include no SDK-named header and speak
#   their own results (CUresult, VkResult).
set -u
root=${1:?usage: layering_test.sh SOURCE_ROOT}
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

# The back ends, CUDA and Vulkan: no Windows header, no HRESULT.
for backend in cuda vulkan; do
    windows=$(includes "$platform/$backend" | grep -E ':<([a-z0-9_]+\.h|wrl/[^>]+)>' | while IFS=: read -r file line name; do
        [[ -f $sdk/${name:1:-1} ]] && echo "$file:$line: $name"
    done)
    windows+=$(grep -rnE '\bHRESULT\b' "$platform/$backend" --include='*.cpp' --include='*.h')
    [[ -z $windows ]] || fail "Windows names in $backend/" "$windows"
done

((failures)) && exit 1
echo "ok: the tool sees the SDK's names only, the libraries meet through their interfaces, Vulkan stays in vulkan/ and the back ends speak their own results"

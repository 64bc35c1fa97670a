#!/usr/bin/env bash
# The layering check against a small tree of its own: clean, it passes; each
# kind of breach, put in alone, fails it with the rule's words.
#   layering_rules_test.sh LAYERING_SCRIPT
set -u
check=${1:?usage: layering_rules_test.sh LAYERING_SCRIPT}
work=$(mktemp -d "${TMPDIR:-/tmp}/ostrel-layering.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT
failures=0

# A tool, the SDK's headers and four libraries: win32 (a front) on ptrace,
# ffmpeg and vulkan (back ends), d3d11 (a front) on vulkan.
tree() {
    rm -rf "$work/root"
    local root=$work/root
    mkdir -p "$root"/src/diagnostics "$root"/platform/{include,cuda,win32,ptrace/interface/Ptrace,ffmpeg/interface/Ffmpeg,vulkan,d3d11}
    printf '#pragma once\n#include <cstdint>\n' >"$root/platform/include/windows.h"
    printf '#include <vector>\n#include <windows.h>\n#include "Tool.h"\n' >"$root/src/Tool.cpp"
    printf '#pragma once\n' >"$root/src/Tool.h"
    printf '#include <windows.h>\n#include "Ptrace/Debugger.h"\n' >"$root/platform/win32/Debugging.cpp"
    printf '#pragma once\n#include <sys/types.h>\n' >"$root/platform/ptrace/interface/Ptrace/Debugger.h"
    printf '#include "Ffmpeg/Writer.h"\n' >"$root/platform/ffmpeg/Writer.cpp"
    printf '#pragma once\n' >"$root/platform/ffmpeg/interface/Ffmpeg/Writer.h"
    printf '#include <vulkan/vulkan.h>\nint Submit() { return vkQueueSubmit(0, 0, 0, 0); }\n' >"$root/platform/vulkan/Queue.cpp"
    printf '#include <d3d11.h>\n' >"$root/platform/d3d11/Device.cpp"
    mkdir -p "$root"/tests/platform/{win32,d3d11} "$root"/tests/{Module,diagnostics}
    printf '#include "win32/Debugging.h"\n#include "Ptrace/Debugger.h"\n' >"$root/tests/platform/win32/DebuggingTest.cpp"
    printf '#include <d3d11.h>\n#include "d3d11/Device.h"\n' >"$root/tests/platform/d3d11/DeviceTest.cpp"
    printf '#include <windows.h>\n#include "Tool.h"\n' >"$root/tests/ToolTest.cpp"
    printf 'ostrel_platform_library(win32\n  SOURCES Debugging.cpp\n  USES ptrace\n)\n' >"$root/platform/win32/CMakeLists.txt"
    printf 'ostrel_platform_library(ptrace SOURCES Debugger.cpp)\n' >"$root/platform/ptrace/CMakeLists.txt"
    printf 'ostrel_platform_library(ffmpeg SOURCES Writer.cpp)\n' >"$root/platform/ffmpeg/CMakeLists.txt"
    printf 'ostrel_platform_library(vulkan SOURCES Queue.cpp)\n' >"$root/platform/vulkan/CMakeLists.txt"
    printf 'ostrel_platform_library(d3d11 SOURCES Device.cpp USES vulkan)\n' >"$root/platform/d3d11/CMakeLists.txt"
}

# expect NAME WORDS: the check fails on the tree as it now is, saying WORDS.
expect() {
    local output
    output=$(bash "$check" --quiet "$work/root" 2>&1)
    local status=$?
    if ((status == 0)); then
        echo "FAIL: $1: the check passed"
        failures=1
    elif [[ $output != *"$2"* ]]; then
        echo "FAIL: $1: the check failed without saying \"$2\":"
        echo "$output"
        failures=1
    fi
}

tree
if ! output=$(bash "$check" --quiet "$work/root" 2>&1) || [[ -n $output ]]; then
    echo "FAIL: the clean tree did not pass quietly:"
    echo "$output"
    failures=1
fi

tree
echo '#include <libavformat/avformat.h>' >>"$work/root/src/Tool.cpp"
expect "a third-party header in the tool" "neither its own"

tree
echo '#include "../platform/ffmpeg/interface/Ffmpeg/Writer.h"' >>"$work/root/src/Tool.cpp"
expect "a relative include from the tool into the platform" "neither its own"

tree
echo '#include "../ffmpeg/interface/Ffmpeg/Writer.h"' >>"$work/root/platform/d3d11/Device.cpp"
expect "a relative include between libraries" "climbs out"

tree
echo '#include "ffmpeg/Encoder.h"' >>"$work/root/platform/d3d11/Device.cpp"
expect "another library's own header" "another library's own headers"

tree
printf 'ostrel_platform_library(ptrace\n  SOURCES Debugger.cpp\n  USES vulkan win32\n)\n' >"$work/root/platform/ptrace/CMakeLists.txt"
expect "a cycle between two libraries" "has a cycle"

tree
printf 'ostrel_platform_library(ffmpeg SOURCES Writer.cpp USES d3d11)\n' >"$work/root/platform/ffmpeg/CMakeLists.txt"
expect "a back end on a front" "ffmpeg uses d3d11"

tree
echo '#include <windows.h>' >>"$work/root/platform/ptrace/Debugger.cpp"
expect "a Windows header in a back end" "Windows names in ptrace/"

tree
echo 'HRESULT Open();' >>"$work/root/platform/ffmpeg/interface/Ffmpeg/Writer.h"
expect "a Windows result in a back end" "Windows names in ffmpeg/"

tree
echo 'void Draw() { vkCmdDraw(0, 3, 1, 0, 0); }' >>"$work/root/platform/d3d11/Device.cpp"
expect "Vulkan called from a front" "Vulkan called outside"

tree
echo '#include "win32/Handles.h"' >>"$work/root/tests/platform/d3d11/DeviceTest.cpp"
expect "a library's test with another library's own header" "neither holds nor uses"

tree
echo '#include "Ptrace/Debugger.h"' >>"$work/root/tests/platform/d3d11/DeviceTest.cpp"
expect "a library's test with the interface of a library it does not use" "neither holds nor uses"

tree
echo '#include "Ptrace/Debugger.h"' >>"$work/root/tests/ToolTest.cpp"
expect "a test of the tool behind the SDK's names" "reaches behind"

((failures)) && exit 1
echo "ok: the layering check passes a clean tree and fails each breach"

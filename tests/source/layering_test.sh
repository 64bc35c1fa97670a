#!/usr/bin/env bash
# The graphics back end's boundary, checked on the sources: only vulkan/
# records Vulkan commands or calls Vulkan, and vulkan/ knows nothing of DXGI
# or Direct3D.   layering_test.sh SOURCE_ROOT
set -u
platform=${1:?usage: layering_test.sh SOURCE_ROOT}/src/platform
failures=0

# Vulkan calls (vkSomething( ), outside the back end.
calls=$(grep -rnE '\bvk[A-Z][A-Za-z0-9]*\(' "$platform" --include='*.cpp' --include='*.h' | grep -v "^$platform/vulkan/")
if [[ -n $calls ]]; then
    echo "FAIL: Vulkan called outside vulkan/:"
    echo "$calls"
    failures=1
fi
# DXGI and Direct3D inside the back end; Error.cpp, the one place where a
# Vulkan result becomes an HRESULT, may name DXGI's error codes.
notions=$(grep -rnE '#include .*(d3d11|d3dcommon|d3d10|dxgi)|\bD3D|\bDXGI_' "$platform/vulkan" | grep -v "^$platform/vulkan/Error.cpp:")
if [[ -n $notions ]]; then
    echo "FAIL: DXGI or Direct3D in vulkan/:"
    echo "$notions"
    failures=1
fi
((failures)) && exit 1
echo "ok: Vulkan is called from vulkan/ only, and vulkan/ knows only Vulkan"

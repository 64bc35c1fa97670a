#include "Vulkan/Error.h"

#include "Win32/Errors.h"

namespace Platform::Vulkan {

HRESULT HresultFromVk(VkResult Result)
{
    switch (Result)
    {
    case VK_SUCCESS: return S_OK;
    case VK_NOT_READY:
    case VK_TIMEOUT: return DXGI_ERROR_WAS_STILL_DRAWING;
    case VK_ERROR_OUT_OF_HOST_MEMORY:
    case VK_ERROR_OUT_OF_DEVICE_MEMORY:
    case VK_ERROR_OUT_OF_POOL_MEMORY:
    case VK_ERROR_FRAGMENTED_POOL:
    case VK_ERROR_FRAGMENTATION:
    case VK_ERROR_TOO_MANY_OBJECTS: return E_OUTOFMEMORY;
    case VK_ERROR_DEVICE_LOST: return DXGI_ERROR_DEVICE_REMOVED;
    case VK_ERROR_INITIALIZATION_FAILED:
    case VK_ERROR_LAYER_NOT_PRESENT:
    case VK_ERROR_EXTENSION_NOT_PRESENT:
    case VK_ERROR_FEATURE_NOT_PRESENT:
    case VK_ERROR_INCOMPATIBLE_DRIVER:
    case VK_ERROR_FORMAT_NOT_SUPPORTED: return DXGI_ERROR_UNSUPPORTED;
    case VK_ERROR_MEMORY_MAP_FAILED: return E_OUTOFMEMORY;
    case VK_ERROR_INVALID_SHADER_NV: return E_INVALIDARG;
    default: return Result < 0 ? E_FAIL : S_OK;
    }
}

HRESULT HresultFromDeviceFailure(VkResult Result)
{
    if (Result == VK_TIMEOUT)
        return DXGI_ERROR_DEVICE_HUNG;
    return HresultFromVk(Result) == E_OUTOFMEMORY ? E_OUTOFMEMORY : DXGI_ERROR_DEVICE_REMOVED;
}

HRESULT HresultFromDriverStart(VkResult Result)
{
    if ((Result == VK_ERROR_INITIALIZATION_FAILED || Result == VK_ERROR_INCOMPATIBLE_DRIVER) && MemoryExhausted())
        return E_OUTOFMEMORY;
    return HresultFromVk(Result);
}

} // namespace Platform::Vulkan

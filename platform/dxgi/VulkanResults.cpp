#include "Dxgi/VulkanResults.h"
#include "Vulkan/Results.h"

namespace Platform::Dxgi {

HRESULT HresultFromVk(VkResult Result)
{
    if (Vulkan::OutOfMemory(Result))
        return E_OUTOFMEMORY;
    switch (Result)
    {
    case VK_SUCCESS: return S_OK;
    case VK_NOT_READY: return DXGI_ERROR_WAS_STILL_DRAWING;
    case VK_TIMEOUT: return DXGI_ERROR_DEVICE_HUNG;
    case VK_ERROR_DEVICE_LOST: return DXGI_ERROR_DEVICE_REMOVED;
    case VK_ERROR_INITIALIZATION_FAILED:
    case VK_ERROR_LAYER_NOT_PRESENT:
    case VK_ERROR_EXTENSION_NOT_PRESENT:
    case VK_ERROR_FEATURE_NOT_PRESENT:
    case VK_ERROR_INCOMPATIBLE_DRIVER:
    case VK_ERROR_FORMAT_NOT_SUPPORTED: return DXGI_ERROR_UNSUPPORTED;
    case VK_ERROR_VALIDATION_FAILED_EXT:
    case VK_ERROR_INVALID_SHADER_NV: return E_INVALIDARG;
    default: return Result < 0 ? E_FAIL : S_OK;
    }
}

HRESULT HresultFromExport(VkResult Result)
{
    return Result == VK_ERROR_FEATURE_NOT_PRESENT ? E_NOTIMPL : HresultFromVk(Result);
}

} // namespace Platform::Dxgi

#include "Vulkan/Error.h"

#include <cerrno>

#include <sys/mman.h>

namespace Platform::Vulkan {

namespace {

// Whether the process can map no more memory: a driver needs far more than
// this untouched, writable probe, which costs no pages.
bool AddressSpaceExhausted()
{
    constexpr size_t Probe = size_t(256) << 20;
    void* Mapped = mmap(nullptr, Probe, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (Mapped == MAP_FAILED)
        return errno == ENOMEM;
    munmap(Mapped, Probe);
    return false;
}

} // namespace

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
    if ((Result == VK_ERROR_INITIALIZATION_FAILED || Result == VK_ERROR_INCOMPATIBLE_DRIVER) && AddressSpaceExhausted())
        return E_OUTOFMEMORY;
    return HresultFromVk(Result);
}

} // namespace Platform::Vulkan

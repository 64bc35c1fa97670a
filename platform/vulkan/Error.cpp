#include "Error.h"

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

bool OutOfMemory(VkResult Result)
{
    switch (Result)
    {
    case VK_ERROR_OUT_OF_HOST_MEMORY:
    case VK_ERROR_OUT_OF_DEVICE_MEMORY:
    case VK_ERROR_OUT_OF_POOL_MEMORY:
    case VK_ERROR_FRAGMENTED_POOL:
    case VK_ERROR_FRAGMENTATION:
    case VK_ERROR_TOO_MANY_OBJECTS:
    case VK_ERROR_MEMORY_MAP_FAILED: return true;
    default: return false;
    }
}

VkResult DeviceFailure(VkResult Result)
{
    if (Result == VK_TIMEOUT || OutOfMemory(Result))
        return Result;
    return VK_ERROR_DEVICE_LOST;
}

VkResult DriverStartResult(VkResult Result)
{
    if ((Result == VK_ERROR_INITIALIZATION_FAILED || Result == VK_ERROR_INCOMPATIBLE_DRIVER) && AddressSpaceExhausted())
        return VK_ERROR_OUT_OF_HOST_MEMORY;
    return Result;
}

} // namespace Platform::Vulkan

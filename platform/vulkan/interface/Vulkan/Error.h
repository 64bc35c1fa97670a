// The one place where a Vulkan result becomes an HRESULT.
#pragma once

#include <vulkan/vulkan.h>

#include <winerror.h>

namespace Platform::Vulkan {

HRESULT HresultFromVk(VkResult Result);
// What a failed submission or wait makes of the device: a wait past its
// limit hangs it, out of memory stays that, anything else removes it.
HRESULT HresultFromDeviceFailure(VkResult Result);
// What a failure to start the drivers (no driver, or none that initialises)
// means: out of memory when the process has none left, since the loader
// drops a driver whose libraries cannot be mapped; otherwise the driver
// result as it is.
HRESULT HresultFromDriverStart(VkResult Result);

} // namespace Platform::Vulkan

// Returns the HRESULT of a failed Vulkan call from the enclosing function.
#define VK_RETURN_IF_FAILED(Expression)                              \
    do                                                               \
    {                                                                \
        const VkResult VkResultValue = (Expression);                 \
        if (VkResultValue < 0)                                       \
            return ::Platform::Vulkan::HresultFromVk(VkResultValue); \
    } while (0)

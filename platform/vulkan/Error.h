// How the back end reads the results of Vulkan calls. It answers in VkResult
// throughout: VK_SUCCESS, or the error of what failed. A device that hung
// (a wait past its limit) is the one non-error result it reports as a
// failure: VK_TIMEOUT, as its removal reason.
#pragma once

#include <vulkan/vulkan.h>

#include "Vulkan/Results.h"

namespace Platform::Vulkan {

// What a failed submission or wait makes of the device: a wait past its
// limit hangs it (VK_TIMEOUT), out of memory stays that, anything else loses
// it (VK_ERROR_DEVICE_LOST).
VkResult DeviceFailure(VkResult Result);
// What a failure to start the drivers (no driver, or none that initialises)
// means: out of host memory when the process has none left, since the loader
// drops a driver whose libraries cannot be mapped; otherwise the result as
// it is.
VkResult DriverStartResult(VkResult Result);

} // namespace Platform::Vulkan

// Returns the result of a failed Vulkan call from the enclosing function.
#define VK_RETURN_IF_FAILED(Expression)              \
    do                                               \
    {                                                \
        const VkResult VkResultValue = (Expression); \
        if (VkResultValue < 0)                       \
            return VkResultValue;                    \
    } while (0)

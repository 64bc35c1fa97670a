// The one place where a Vulkan result becomes an HRESULT.
#pragma once

#include <vulkan/vulkan.h>

#include <winerror.h>

namespace Platform::Vulkan {

HRESULT HresultFromVk(VkResult Result);

} // namespace Platform::Vulkan

// Returns the HRESULT of a failed Vulkan call from the enclosing function.
#define VK_RETURN_IF_FAILED(Expression)                                        \
    do                                                                         \
    {                                                                          \
        const VkResult VkResultValue = (Expression);                           \
        if (VkResultValue < 0)                                                 \
            return ::Platform::Vulkan::HresultFromVk(VkResultValue);           \
    } while (0)

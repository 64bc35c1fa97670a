// What the back end's results mean, for the fronts that turn them into their
// own codes.
#pragma once

#include <vulkan/vulkan.h>

namespace Platform::Vulkan {

// Results that mean memory ran out, of the host's or the device's kind.
bool OutOfMemory(VkResult Result);

} // namespace Platform::Vulkan

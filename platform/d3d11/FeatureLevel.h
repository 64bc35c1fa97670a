// The Direct3D feature level that a Vulkan physical device can honestly offer.
#pragma once

#include <vulkan/vulkan.h>

#include <d3dcommon.h>

namespace Platform::D3D11 {

// The highest level whose hardware requirements the device meets. Only what
// Vulkan reports is counted; the levels' other rules (resource counts,
// formats) hold on every device that meets these.
D3D_FEATURE_LEVEL FeatureLevelOf(const VkPhysicalDeviceFeatures& Features, const VkPhysicalDeviceLimits& Limits);

} // namespace Platform::D3D11

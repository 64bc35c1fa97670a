// The one place where a result of the Vulkan back end becomes the HRESULT
// that DXGI and Direct3D callers see.
#pragma once

#include <vulkan/vulkan.h>

#include <winerror.h>

namespace Platform::Dxgi {

// VK_TIMEOUT is what the back end reports of a device that hung; a lost
// device is a removed one.
HRESULT HresultFromVk(VkResult Result);
// The same, for sharing a resource or a semaphore with another API: a device
// that cannot share it does not implement the sharing.
HRESULT HresultFromExport(VkResult Result);

} // namespace Platform::Dxgi

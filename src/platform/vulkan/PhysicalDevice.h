// One Vulkan physical device seen as a DXGI adapter: its description and
// what Direct3D feature level it can honestly offer.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include <vulkan/vulkan.h>

#include <windows.h>

#include "../d3d11/d3dcommon.h"

namespace Platform::Vulkan {

struct AdapterDescription
{
    std::wstring m_Name;
    UINT m_VendorId = 0;
    UINT m_DeviceId = 0;
    UINT m_Revision = 0;
    SIZE_T m_DedicatedVideoMemory = 0;
    SIZE_T m_DedicatedSystemMemory = 0;
    SIZE_T m_SharedSystemMemory = 0;
    LUID m_Luid = {};
    UINT m_Flags = 0; // DXGI_ADAPTER_FLAG_*
};

class PhysicalDevice
{
public:
    explicit PhysicalDevice(VkPhysicalDevice Handle);

    bool IsSoftware() const { return m_Properties.deviceType == VK_PHYSICAL_DEVICE_TYPE_CPU; }
    bool HasExtension(const char* Name) const;

    VkPhysicalDevice m_Handle;
    VkPhysicalDeviceProperties m_Properties = {};
    VkPhysicalDeviceFeatures m_Features = {};
    VkPhysicalDeviceMemoryProperties m_MemoryProperties = {};
    std::array<uint8_t, VK_UUID_SIZE> m_Uuid = {};
    bool m_LuidValid = false;
    std::array<uint8_t, VK_LUID_SIZE> m_Luid = {};
    // What a device on it needs beyond Vulkan 1.1: timeline semaphores,
    // dynamic rendering and push descriptors.
    bool m_Usable = false;
    D3D_FEATURE_LEVEL m_FeatureLevel = D3D_FEATURE_LEVEL_9_1;
    AdapterDescription m_Description;

private:
    std::string m_Extensions; // " name name ... ": every name between blanks
};

// The locally unique identifier of an adapter whose driver reports none: a
// hash of its UUID, so that it stays the same from run to run.
LUID LuidFromUuid(const std::array<uint8_t, VK_UUID_SIZE>& Uuid);

} // namespace Platform::Vulkan

// What DXGI tells of an adapter, made from the Vulkan physical device that
// stands behind it.
#pragma once

#include <array>
#include <string>
#include <vector>

#include <windows.h>

#include "Vulkan/PhysicalDevice.h"

namespace Platform::Dxgi {

struct AdapterDescription
{
    std::wstring m_Name; // 127 characters at most
    UINT m_VendorId = 0;
    UINT m_DeviceId = 0;
    UINT m_Revision = 0;
    SIZE_T m_DedicatedVideoMemory = 0;
    SIZE_T m_DedicatedSystemMemory = 0;
    SIZE_T m_SharedSystemMemory = 0;
    LUID m_Luid = {};
    UINT m_Flags = 0; // DXGI_ADAPTER_FLAG_*
};

// The description of Devices[Index]. Its LUID is the driver's where valid,
// else one made from its UUID, and differs from those of the devices before
// it in the list, so that every adapter of the machine has its own.
AdapterDescription DescribeAdapter(const std::vector<Vulkan::PhysicalDevice>& Devices, size_t Index);

// The locally unique identifier of an adapter whose driver reports none: a
// hash of its UUID, so that it stays the same from run to run.
LUID LuidFromUuid(const std::array<uint8_t, VK_UUID_SIZE>& Uuid);

} // namespace Platform::Dxgi

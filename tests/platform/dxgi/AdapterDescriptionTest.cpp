// What DXGI tells of an adapter, made from described physical devices.

#include <array>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <dxgi.h>

#include "dxgi/AdapterDescription.h"

using Platform::Dxgi::DescribeAdapter;

namespace {

Platform::Vulkan::PhysicalDevice Described(VkPhysicalDeviceType Type, const std::string& Name, uint8_t UuidByte)
{
    Platform::Vulkan::PhysicalDevice Device;
    Device.m_Properties.deviceType = Type;
    Device.m_Properties.vendorID = 0x10de;
    Device.m_Properties.deviceID = 0x2204;
    Name.copy(Device.m_Properties.deviceName, VK_MAX_PHYSICAL_DEVICE_NAME_SIZE - 1);
    Device.m_Uuid[0] = UuidByte;
    VkPhysicalDeviceMemoryProperties& Memory = Device.m_MemoryProperties;
    Memory.memoryHeapCount = 2;
    Memory.memoryHeaps[0] = {8ull << 30, VK_MEMORY_HEAP_DEVICE_LOCAL_BIT};
    Memory.memoryHeaps[1] = {16ull << 30, 0};
    return Device;
}

} // namespace

TEST(Dxgi, LuidFromUuidIsStableAndSpreads)
{
    std::array<uint8_t, VK_UUID_SIZE> Uuid = {};
    const LUID First = Platform::Dxgi::LuidFromUuid(Uuid);
    EXPECT_EQ(First.LowPart, Platform::Dxgi::LuidFromUuid(Uuid).LowPart);
    EXPECT_EQ(First.HighPart, 0);
    Uuid[15] = 1;
    EXPECT_NE(First.LowPart, Platform::Dxgi::LuidFromUuid(Uuid).LowPart);
}

TEST(AdapterDescription, OnlyCpuDevicesAreSoftwareAndOnlyDiscreteOnesHaveVideoMemory)
{
    const std::vector<Platform::Vulkan::PhysicalDevice> Devices = {
        Described(VK_PHYSICAL_DEVICE_TYPE_DISCRETE_GPU, "discrete", 1),
        Described(VK_PHYSICAL_DEVICE_TYPE_INTEGRATED_GPU, "integrated", 2),
        Described(VK_PHYSICAL_DEVICE_TYPE_CPU, "llvmpipe", 3),
    };
    const auto Discrete = DescribeAdapter(Devices, 0), Integrated = DescribeAdapter(Devices, 1),
               Software = DescribeAdapter(Devices, 2);
    EXPECT_EQ(Discrete.m_Flags, UINT(DXGI_ADAPTER_FLAG_NONE));
    EXPECT_EQ(Integrated.m_Flags, UINT(DXGI_ADAPTER_FLAG_NONE));
    EXPECT_EQ(Software.m_Flags, UINT(DXGI_ADAPTER_FLAG_SOFTWARE));
    EXPECT_EQ(Discrete.m_Name, L"discrete");
    EXPECT_EQ(Discrete.m_VendorId, 0x10deu);
    EXPECT_EQ(Discrete.m_DeviceId, 0x2204u);
    // A discrete device's own heap is its video memory; every other heap,
    // and every heap of other devices, is shared system memory.
    EXPECT_EQ(Discrete.m_DedicatedVideoMemory, SIZE_T(8) << 30);
    EXPECT_EQ(Discrete.m_SharedSystemMemory, SIZE_T(16) << 30);
    for (const auto* Other : {&Integrated, &Software})
    {
        EXPECT_EQ(Other->m_DedicatedVideoMemory, 0u);
        EXPECT_EQ(Other->m_SharedSystemMemory, SIZE_T(24) << 30);
    }
}

TEST(AdapterDescription, NamesAreCutAndEveryAdapterHasItsOwnLuid)
{
    std::vector<Platform::Vulkan::PhysicalDevice> Devices = {
        Described(VK_PHYSICAL_DEVICE_TYPE_DISCRETE_GPU, std::string(200, 'n'), 7),
        Described(VK_PHYSICAL_DEVICE_TYPE_DISCRETE_GPU, "twin", 7),
        Described(VK_PHYSICAL_DEVICE_TYPE_DISCRETE_GPU, "triplet", 7),
        Described(VK_PHYSICAL_DEVICE_TYPE_DISCRETE_GPU, "driver's own", 9),
    };
    Devices[3].m_LuidValid = true;
    Devices[3].m_Luid = {0x34, 0x12, 0, 0, 1, 0, 0, 0};
    EXPECT_EQ(DescribeAdapter(Devices, 0).m_Name, std::wstring(127, L'n'));
    // Devices that report the same UUID still get LUIDs of their own, and
    // each keeps its LUID from call to call.
    const LUID First = DescribeAdapter(Devices, 0).m_Luid, Second = DescribeAdapter(Devices, 1).m_Luid,
               Third = DescribeAdapter(Devices, 2).m_Luid;
    EXPECT_EQ(First.LowPart, Platform::Dxgi::LuidFromUuid(Devices[0].m_Uuid).LowPart);
    EXPECT_NE(Second.LowPart, First.LowPart);
    EXPECT_NE(Third.LowPart, First.LowPart);
    EXPECT_NE(Third.LowPart, Second.LowPart);
    EXPECT_EQ(DescribeAdapter(Devices, 1).m_Luid.LowPart, Second.LowPart);
    // A valid LUID of the driver is taken as it is.
    const LUID Driver = DescribeAdapter(Devices, 3).m_Luid;
    EXPECT_EQ(Driver.LowPart, 0x1234u);
    EXPECT_EQ(Driver.HighPart, 1);
}

#include "AdapterDescription.h"

#include <cstring>

#include "Win32/Utf8.h"
#include <dxgi.h>

namespace Platform::Dxgi {

namespace {

LUID OwnLuid(const Vulkan::PhysicalDevice& Device)
{
    if (!Device.m_LuidValid)
        return LuidFromUuid(Device.m_Uuid);
    LUID Luid;
    std::memcpy(&Luid.LowPart, Device.m_Luid.data(), 4);
    std::memcpy(&Luid.HighPart, Device.m_Luid.data() + 4, 4);
    return Luid;
}

bool SameLuid(const LUID& First, const LUID& Second)
{
    return First.LowPart == Second.LowPart && First.HighPart == Second.HighPart;
}

} // namespace

LUID LuidFromUuid(const std::array<uint8_t, VK_UUID_SIZE>& Uuid)
{
    // FNV-1a over the UUID, folded to 32 bits: LUIDs of real adapters are small
    // numbers with a zero high part, and so are these.
    uint64_t Hash = 0xcbf29ce484222325ull;
    for (uint8_t Byte : Uuid)
    {
        Hash ^= Byte;
        Hash *= 0x100000001b3ull;
    }
    LUID Luid;
    Luid.LowPart = static_cast<DWORD>(Hash ^ (Hash >> 32));
    Luid.HighPart = 0;
    return Luid;
}

AdapterDescription DescribeAdapter(const std::vector<Vulkan::PhysicalDevice>& Devices, size_t Index)
{
    const Vulkan::PhysicalDevice& Device = Devices[Index];
    AdapterDescription Description;
    Description.m_Name = WideFromUtf8(Device.m_Properties.deviceName);
    if (Description.m_Name.size() > 127)
        Description.m_Name.resize(127);
    Description.m_VendorId = Device.m_Properties.vendorID;
    Description.m_DeviceId = Device.m_Properties.deviceID;
    Description.m_Flags = Device.IsSoftware() ? DXGI_ADAPTER_FLAG_SOFTWARE : DXGI_ADAPTER_FLAG_NONE;
    // Memory: heaps that only the device reaches are its own; heaps in system
    // memory count as shared (a software device has nothing of its own).
    const VkPhysicalDeviceMemoryProperties& Memory = Device.m_MemoryProperties;
    for (uint32_t Heap = 0; Heap < Memory.memoryHeapCount; ++Heap)
    {
        const bool DeviceLocal = (Memory.memoryHeaps[Heap].flags & VK_MEMORY_HEAP_DEVICE_LOCAL_BIT) != 0;
        if (DeviceLocal && Device.m_Properties.deviceType == VK_PHYSICAL_DEVICE_TYPE_DISCRETE_GPU)
            Description.m_DedicatedVideoMemory += Memory.memoryHeaps[Heap].size;
        else
            Description.m_SharedSystemMemory += Memory.memoryHeaps[Heap].size;
    }
    // Two devices that report the same UUID would get the same LUID: each
    // one that repeats an earlier one's moves on to the next free value.
    std::vector<LUID> Taken;
    for (size_t Earlier = 0; Earlier <= Index; ++Earlier)
    {
        LUID Luid = OwnLuid(Devices[Earlier]);
        for (size_t Other = 0; Other < Taken.size(); ++Other)
            if (SameLuid(Luid, Taken[Other]))
            {
                ++Luid.LowPart;
                Other = static_cast<size_t>(-1); // compare against all again
            }
        Taken.push_back(Luid);
    }
    Description.m_Luid = Taken.back();
    return Description;
}

} // namespace Platform::Dxgi

#include "PhysicalDevice.h"
#include "Structure.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "../dxgi/dxgi.h"
#include "../win32/Utf8.h"

namespace Platform::Vulkan {

namespace {

// The highest level whose hardware requirements the device meets. Only what
// Vulkan reports is counted; the levels' other rules (resource counts, formats)
// hold on every device that meets these.
D3D_FEATURE_LEVEL FeatureLevelOf(const VkPhysicalDeviceFeatures& Features, const VkPhysicalDeviceLimits& Limits)
{
    const bool Level10 = Features.geometryShader && Features.independentBlend && Features.dualSrcBlend &&
                         Features.depthClamp && Limits.maxImageDimension2D >= 8192 &&
                         Limits.maxColorAttachments >= 8 && Limits.maxVertexInputAttributes >= 16;
    const bool Level10_1 = Level10 && Features.imageCubeArray && Features.sampleRateShading;
    const bool Level11 = Level10_1 && Features.tessellationShader && Features.textureCompressionBC &&
                         Features.fragmentStoresAndAtomics && Features.drawIndirectFirstInstance &&
                         Limits.maxImageDimension2D >= 16384 && Limits.maxComputeWorkGroupInvocations >= 1024;
    const bool Level11_1 = Level11 && Features.logicOp && Features.vertexPipelineStoresAndAtomics;
    if (Level11_1)
        return D3D_FEATURE_LEVEL_11_1;
    if (Level11)
        return D3D_FEATURE_LEVEL_11_0;
    if (Level10_1)
        return D3D_FEATURE_LEVEL_10_1;
    if (Level10)
        return D3D_FEATURE_LEVEL_10_0;
    if (Limits.maxImageDimension2D >= 4096)
        return D3D_FEATURE_LEVEL_9_3;
    return D3D_FEATURE_LEVEL_9_1;
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

PhysicalDevice::PhysicalDevice(VkPhysicalDevice Handle) : m_Handle(Handle)
{
    auto IdProperties = Vulkan::Describe<VkPhysicalDeviceIDProperties>(VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_ID_PROPERTIES);
    auto Properties2 = Vulkan::Describe<VkPhysicalDeviceProperties2>(VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_PROPERTIES_2, &IdProperties);
    vkGetPhysicalDeviceProperties2(Handle, &Properties2);
    m_Properties = Properties2.properties;
    std::copy(std::begin(IdProperties.deviceUUID), std::end(IdProperties.deviceUUID), m_Uuid.begin());
    m_LuidValid = IdProperties.deviceLUIDValid == VK_TRUE;
    std::copy(std::begin(IdProperties.deviceLUID), std::end(IdProperties.deviceLUID), m_Luid.begin());

    uint32_t ExtensionCount = 0;
    vkEnumerateDeviceExtensionProperties(Handle, nullptr, &ExtensionCount, nullptr);
    std::vector<VkExtensionProperties> Extensions(ExtensionCount);
    m_Extensions.assign(1, ' ');
    vkEnumerateDeviceExtensionProperties(Handle, nullptr, &ExtensionCount, Extensions.data());
    for (uint32_t Index = 0; Index < ExtensionCount; ++Index)
    {
        m_Extensions.append(Extensions[Index].extensionName);
        m_Extensions.push_back(' ');
    }

    auto Features13 = Vulkan::Describe<VkPhysicalDeviceVulkan13Features>(VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_VULKAN_1_3_FEATURES);
    auto Features12 = Vulkan::Describe<VkPhysicalDeviceVulkan12Features>(VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_VULKAN_1_2_FEATURES);
    auto DynamicRendering = Vulkan::Describe<VkPhysicalDeviceDynamicRenderingFeatures>(VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_DYNAMIC_RENDERING_FEATURES);
    auto Features2 = Vulkan::Describe<VkPhysicalDeviceFeatures2>(VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_FEATURES_2);
    const bool Version13 = m_Properties.apiVersion >= VK_API_VERSION_1_3;
    const bool Version12 = m_Properties.apiVersion >= VK_API_VERSION_1_2;
    if (Version12)
    {
        Features2.pNext = &Features12;
        Features12.pNext = Version13 ? static_cast<void*>(&Features13)
                                     : (HasExtension(VK_KHR_DYNAMIC_RENDERING_EXTENSION_NAME) ? &DynamicRendering
                                                                                               : nullptr);
    }
    vkGetPhysicalDeviceFeatures2(Handle, &Features2);
    m_Features = Features2.features;
    vkGetPhysicalDeviceMemoryProperties(Handle, &m_MemoryProperties);

    const bool Rendering = Version13 ? Features13.dynamicRendering == VK_TRUE
                                     : DynamicRendering.dynamicRendering == VK_TRUE;
    m_Usable = Version12 && Features12.timelineSemaphore && Rendering &&
               HasExtension(VK_KHR_PUSH_DESCRIPTOR_EXTENSION_NAME);
    m_FeatureLevel = FeatureLevelOf(m_Features, m_Properties.limits);

    m_Description.m_Name = WideFromUtf8(m_Properties.deviceName);
    if (m_Description.m_Name.size() > 127)
        m_Description.m_Name.resize(127);
    m_Description.m_VendorId = m_Properties.vendorID;
    m_Description.m_DeviceId = m_Properties.deviceID;
    m_Description.m_Revision = 0;
    m_Description.m_Flags = IsSoftware() ? DXGI_ADAPTER_FLAG_SOFTWARE : DXGI_ADAPTER_FLAG_NONE;
    // Memory: heaps that only the device reaches are its own; heaps in system
    // memory count as shared (a software device has nothing of its own).
    for (uint32_t Index = 0; Index < m_MemoryProperties.memoryHeapCount; ++Index)
    {
        const VkMemoryHeap& Heap = m_MemoryProperties.memoryHeaps[Index];
        const bool DeviceLocal = (Heap.flags & VK_MEMORY_HEAP_DEVICE_LOCAL_BIT) != 0;
        if (DeviceLocal && m_Properties.deviceType == VK_PHYSICAL_DEVICE_TYPE_DISCRETE_GPU)
            m_Description.m_DedicatedVideoMemory += Heap.size;
        else
            m_Description.m_SharedSystemMemory += Heap.size;
    }
    if (m_LuidValid)
    {
        std::memcpy(&m_Description.m_Luid.LowPart, m_Luid.data(), 4);
        std::memcpy(&m_Description.m_Luid.HighPart, m_Luid.data() + 4, 4);
    }
    else
        m_Description.m_Luid = LuidFromUuid(m_Uuid);
}

bool PhysicalDevice::HasExtension(const char* Name) const
{
    const std::string_view Wanted(Name);
    for (size_t Start = m_Extensions.find(Wanted); Start != std::string::npos;
         Start = m_Extensions.find(Wanted, Start + 1))
        if (Start > 0 && m_Extensions[Start - 1] == ' ' && Start + Wanted.size() < m_Extensions.size() &&
            m_Extensions[Start + Wanted.size()] == ' ')
            return true;
    return false;
}

} // namespace Platform::Vulkan

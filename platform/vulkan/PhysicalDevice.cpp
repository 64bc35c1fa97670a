#include "Vulkan/PhysicalDevice.h"
#include "Structure.h"

#include <algorithm>
#include <string_view>
#include <vector>

namespace Platform::Vulkan {

PhysicalDevice::PhysicalDevice(VkPhysicalDevice Handle) : m_Handle(Handle)
{
    uint32_t ExtensionCount = 0;
    vkEnumerateDeviceExtensionProperties(Handle, nullptr, &ExtensionCount, nullptr);
    std::vector<VkExtensionProperties> Extensions(ExtensionCount);
    vkEnumerateDeviceExtensionProperties(Handle, nullptr, &ExtensionCount, Extensions.data());
    m_Extensions.assign(1, ' ');
    for (uint32_t Index = 0; Index < ExtensionCount; ++Index)
    {
        m_Extensions.append(Extensions[Index].extensionName);
        m_Extensions.push_back(' ');
    }
    ReadIdentity();
    ReadFeatures();
    ReadLocation();
    vkGetPhysicalDeviceMemoryProperties(Handle, &m_MemoryProperties);
}

void PhysicalDevice::ReadIdentity()
{
    auto IdProperties = Vulkan::Describe<VkPhysicalDeviceIDProperties>(VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_ID_PROPERTIES);
    auto Properties2 =
        Vulkan::Describe<VkPhysicalDeviceProperties2>(VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_PROPERTIES_2, &IdProperties);
    vkGetPhysicalDeviceProperties2(m_Handle, &Properties2);
    m_Properties = Properties2.properties;
    std::copy(std::begin(IdProperties.deviceUUID), std::end(IdProperties.deviceUUID), m_Uuid.begin());
    m_LuidValid = IdProperties.deviceLUIDValid == VK_TRUE;
    std::copy(std::begin(IdProperties.deviceLUID), std::end(IdProperties.deviceLUID), m_Luid.begin());
}

void PhysicalDevice::ReadFeatures()
{
    auto Features13 =
        Vulkan::Describe<VkPhysicalDeviceVulkan13Features>(VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_VULKAN_1_3_FEATURES);
    auto Features12 =
        Vulkan::Describe<VkPhysicalDeviceVulkan12Features>(VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_VULKAN_1_2_FEATURES);
    auto DynamicRendering = Vulkan::Describe<VkPhysicalDeviceDynamicRenderingFeatures>(
        VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_DYNAMIC_RENDERING_FEATURES);
    auto Maintenance4 = Vulkan::Describe<VkPhysicalDeviceMaintenance4Features>(
        VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_MAINTENANCE_4_FEATURES);
    auto Features2 = Vulkan::Describe<VkPhysicalDeviceFeatures2>(VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_FEATURES_2);
    const bool Version13 = m_Properties.apiVersion >= VK_API_VERSION_1_3;
    const bool Version12 = m_Properties.apiVersion >= VK_API_VERSION_1_2;
    if (Version12)
    {
        Features2.pNext = &Features12;
        if (Version13)
            Features12.pNext = &Features13;
        else
        {
            void** Next = &Features12.pNext;
            if (HasExtension(VK_KHR_DYNAMIC_RENDERING_EXTENSION_NAME))
            {
                *Next = &DynamicRendering;
                Next = &DynamicRendering.pNext;
            }
            if (HasExtension(VK_KHR_MAINTENANCE_4_EXTENSION_NAME))
                *Next = &Maintenance4;
        }
    }
    vkGetPhysicalDeviceFeatures2(m_Handle, &Features2);
    m_Features = Features2.features;

    const bool Rendering =
        Version13 ? Features13.dynamicRendering == VK_TRUE : DynamicRendering.dynamicRendering == VK_TRUE;
    m_Usable =
        Version12 && Features12.timelineSemaphore && Rendering && HasExtension(VK_KHR_PUSH_DESCRIPTOR_EXTENSION_NAME);
    m_Maintenance4 = Version13 ? Features13.maintenance4 == VK_TRUE : Maintenance4.maintenance4 == VK_TRUE;
    m_ExternalMemoryFd = HasExtension(VK_KHR_EXTERNAL_MEMORY_FD_EXTENSION_NAME);
    m_ExternalSemaphoreFd = HasExtension(VK_KHR_EXTERNAL_SEMAPHORE_FD_EXTENSION_NAME);
}

void PhysicalDevice::ReadLocation()
{
    auto Pci = Vulkan::Describe<VkPhysicalDevicePCIBusInfoPropertiesEXT>(
        VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_PCI_BUS_INFO_PROPERTIES_EXT);
    auto Drm = Vulkan::Describe<VkPhysicalDeviceDrmPropertiesEXT>(VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_DRM_PROPERTIES_EXT);
    auto Properties2 = Vulkan::Describe<VkPhysicalDeviceProperties2>(VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_PROPERTIES_2);
    void** Next = &Properties2.pNext;
    const bool HasPci = HasExtension(VK_EXT_PCI_BUS_INFO_EXTENSION_NAME);
    const bool HasDrm = HasExtension(VK_EXT_PHYSICAL_DEVICE_DRM_EXTENSION_NAME);
    if (HasPci)
    {
        *Next = &Pci;
        Next = &Pci.pNext;
    }
    if (HasDrm)
        *Next = &Drm;
    if (!HasPci && !HasDrm)
        return;
    vkGetPhysicalDeviceProperties2(m_Handle, &Properties2);
    if (HasPci)
        m_PciAddress = PciAddress{Pci.pciDomain, Pci.pciBus, Pci.pciDevice, Pci.pciFunction};
    if (HasDrm && Drm.hasRender)
        m_RenderNode = DrmNode{Drm.renderMajor, Drm.renderMinor};
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

#include "Vulkan/Device.h"
#include "Structure.h"

#include <vector>

#include "Error.h"

namespace Platform::Vulkan {

namespace {

// Whether the driver exports timeline semaphores as opaque file descriptors.
bool TimelineExportable(VkPhysicalDevice Adapter)
{
    auto Type = Vulkan::Describe<VkSemaphoreTypeCreateInfo>(VK_STRUCTURE_TYPE_SEMAPHORE_TYPE_CREATE_INFO);
    Type.semaphoreType = VK_SEMAPHORE_TYPE_TIMELINE;
    auto Info = Vulkan::Describe<VkPhysicalDeviceExternalSemaphoreInfo>(
        VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_EXTERNAL_SEMAPHORE_INFO, &Type);
    Info.handleType = VK_EXTERNAL_SEMAPHORE_HANDLE_TYPE_OPAQUE_FD_BIT;
    auto Properties = Vulkan::Describe<VkExternalSemaphoreProperties>(VK_STRUCTURE_TYPE_EXTERNAL_SEMAPHORE_PROPERTIES);
    vkGetPhysicalDeviceExternalSemaphoreProperties(Adapter, &Info, &Properties);
    return (Properties.externalSemaphoreFeatures & VK_EXTERNAL_SEMAPHORE_FEATURE_EXPORTABLE_BIT) != 0;
}

} // namespace

Device::Device(std::shared_ptr<Instance> Instance, const PhysicalDevice& Adapter)
    : m_Instance(std::move(Instance)), m_Adapter(Adapter)
{}

VkResult Device::Create(std::shared_ptr<Instance> Instance, const PhysicalDevice& Adapter,
                        std::shared_ptr<Device>& Result)
{
    if (!Adapter.m_Usable)
        return VK_ERROR_FEATURE_NOT_PRESENT; // the device lacks what is needed
    std::shared_ptr<Device> Created(new (std::nothrow) Device(std::move(Instance), Adapter));
    if (!Created)
        return VK_ERROR_OUT_OF_HOST_MEMORY;

    // One queue that draws and copies.
    uint32_t FamilyCount = 0;
    vkGetPhysicalDeviceQueueFamilyProperties(Adapter.m_Handle, &FamilyCount, nullptr);
    std::vector<VkQueueFamilyProperties> Families(FamilyCount);
    vkGetPhysicalDeviceQueueFamilyProperties(Adapter.m_Handle, &FamilyCount, Families.data());
    uint32_t Family = FamilyCount;
    for (uint32_t Index = 0; Index < FamilyCount && Family == FamilyCount; ++Index)
        if (Families[Index].queueFlags & VK_QUEUE_GRAPHICS_BIT)
            Family = Index;
    if (Family == FamilyCount)
        return VK_ERROR_FEATURE_NOT_PRESENT; // the device lacks what is needed
    Created->m_QueueFamily = Family;

    const float Priority = 1.0f;
    auto QueueInfo = Vulkan::Describe<VkDeviceQueueCreateInfo>(VK_STRUCTURE_TYPE_DEVICE_QUEUE_CREATE_INFO);
    QueueInfo.queueFamilyIndex = Family;
    QueueInfo.queueCount = 1;
    QueueInfo.pQueuePriorities = &Priority;

    const bool Version13 = Adapter.m_Properties.apiVersion >= VK_API_VERSION_1_3;
    std::vector<const char*> Extensions = {VK_KHR_PUSH_DESCRIPTOR_EXTENSION_NAME};
    if (!Version13)
        Extensions.push_back(VK_KHR_DYNAMIC_RENDERING_EXTENSION_NAME);
    if (!Version13 && Adapter.m_Maintenance4)
        Extensions.push_back(VK_KHR_MAINTENANCE_4_EXTENSION_NAME);
    // Frames that another API on the machine reads where they lie.
    if (Adapter.m_ExternalMemoryFd)
        Extensions.push_back(VK_KHR_EXTERNAL_MEMORY_FD_EXTENSION_NAME);
    if (Adapter.m_ExternalSemaphoreFd)
        Extensions.push_back(VK_KHR_EXTERNAL_SEMAPHORE_FD_EXTENSION_NAME);

    // Out-of-range vertex and uniform reads stay inside their buffers.
    VkPhysicalDeviceFeatures Features = {};
    Features.robustBufferAccess = Adapter.m_Features.robustBufferAccess;
    // Maintenance 4 lets a vertex stage write outputs that the fragment
    // stage does not read.
    auto Maintenance4 = Vulkan::Describe<VkPhysicalDeviceMaintenance4Features>(
        VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_MAINTENANCE_4_FEATURES);
    Maintenance4.maintenance4 = VK_TRUE;
    auto DynamicRendering = Vulkan::Describe<VkPhysicalDeviceDynamicRenderingFeatures>(
        VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_DYNAMIC_RENDERING_FEATURES, Adapter.m_Maintenance4 ? &Maintenance4 : nullptr);
    DynamicRendering.dynamicRendering = VK_TRUE;
    auto Timeline = Vulkan::Describe<VkPhysicalDeviceTimelineSemaphoreFeatures>(
        VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_TIMELINE_SEMAPHORE_FEATURES, &DynamicRendering);
    Timeline.timelineSemaphore = VK_TRUE;
    auto Features2 =
        Vulkan::Describe<VkPhysicalDeviceFeatures2>(VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_FEATURES_2, &Timeline);
    Features2.features = Features;

    auto CreateInfo = Vulkan::Describe<VkDeviceCreateInfo>(VK_STRUCTURE_TYPE_DEVICE_CREATE_INFO, &Features2);
    CreateInfo.queueCreateInfoCount = 1;
    CreateInfo.pQueueCreateInfos = &QueueInfo;
    CreateInfo.enabledExtensionCount = static_cast<uint32_t>(Extensions.size());
    CreateInfo.ppEnabledExtensionNames = Extensions.data();
    VK_RETURN_IF_FAILED(vkCreateDevice(Adapter.m_Handle, &CreateInfo, nullptr, &Created->m_Handle));
    vkGetDeviceQueue(Created->m_Handle, Family, 0, &Created->m_Queue);

    const VkDevice Handle = Created->m_Handle;
    Created->m_CmdBeginRendering = reinterpret_cast<PFN_vkCmdBeginRendering>(
        vkGetDeviceProcAddr(Handle, Version13 ? "vkCmdBeginRendering" : "vkCmdBeginRenderingKHR"));
    Created->m_CmdEndRendering = reinterpret_cast<PFN_vkCmdEndRendering>(
        vkGetDeviceProcAddr(Handle, Version13 ? "vkCmdEndRendering" : "vkCmdEndRenderingKHR"));
    Created->m_CmdPushDescriptorSet =
        reinterpret_cast<PFN_vkCmdPushDescriptorSetKHR>(vkGetDeviceProcAddr(Handle, "vkCmdPushDescriptorSetKHR"));
    if (!Created->m_CmdBeginRendering || !Created->m_CmdEndRendering || !Created->m_CmdPushDescriptorSet)
        return VK_ERROR_FEATURE_NOT_PRESENT; // the device lacks what is needed
    if (Adapter.m_ExternalMemoryFd)
        Created->m_GetMemoryFd =
            reinterpret_cast<PFN_vkGetMemoryFdKHR>(vkGetDeviceProcAddr(Handle, "vkGetMemoryFdKHR"));
    if (Adapter.m_ExternalSemaphoreFd)
    {
        Created->m_GetSemaphoreFd =
            reinterpret_cast<PFN_vkGetSemaphoreFdKHR>(vkGetDeviceProcAddr(Handle, "vkGetSemaphoreFdKHR"));
        Created->m_ExportsTimeline = Created->m_GetSemaphoreFd && TimelineExportable(Adapter.m_Handle);
    }
    Result = std::move(Created);
    return VK_SUCCESS;
}

Device::~Device()
{
    if (m_Handle)
    {
        vkDeviceWaitIdle(m_Handle);
        vkDestroyDevice(m_Handle, nullptr);
    }
}

VkResult Device::Allocate(const VkMemoryRequirements& Requirements, VkMemoryPropertyFlags Required,
                          VkMemoryPropertyFlags Preferred, VkDeviceMemory& Memory, VkMemoryPropertyFlags& Obtained,
                          const void* Next) const
{
    const VkPhysicalDeviceMemoryProperties& Properties = m_Adapter.m_MemoryProperties;
    const std::optional<uint32_t> Chosen =
        ChooseMemoryType(Properties, Requirements.memoryTypeBits, Required, Preferred);
    if (!Chosen)
        return VK_ERROR_OUT_OF_HOST_MEMORY;
    auto AllocateInfo = Vulkan::Describe<VkMemoryAllocateInfo>(VK_STRUCTURE_TYPE_MEMORY_ALLOCATE_INFO, Next);
    AllocateInfo.allocationSize = Requirements.size;
    AllocateInfo.memoryTypeIndex = *Chosen;
    VK_RETURN_IF_FAILED(vkAllocateMemory(m_Handle, &AllocateInfo, nullptr, &Memory));
    Obtained = Properties.memoryTypes[*Chosen].propertyFlags;
    return VK_SUCCESS;
}

std::optional<uint32_t> ChooseMemoryType(const VkPhysicalDeviceMemoryProperties& Properties, uint32_t TypeBits,
                                         VkMemoryPropertyFlags Required, VkMemoryPropertyFlags Preferred)
{
    for (const VkMemoryPropertyFlags Wanted : {Required | Preferred, Required})
        for (uint32_t Index = 0; Index < Properties.memoryTypeCount; ++Index)
            if ((TypeBits & (1u << Index)) && (Properties.memoryTypes[Index].propertyFlags & Wanted) == Wanted)
                return Index;
    return std::nullopt;
}

bool Device::HostMemoryOnly() const
{
    const VkPhysicalDeviceMemoryProperties& Memory = m_Adapter.m_MemoryProperties;
    if (!m_Adapter.IsSoftware() || Memory.memoryTypeCount == 0)
        return false;
    for (uint32_t Index = 0; Index < Memory.memoryTypeCount; ++Index)
        if (!(Memory.memoryTypes[Index].propertyFlags & VK_MEMORY_PROPERTY_HOST_VISIBLE_BIT))
            return false;
    return true;
}

bool Device::SupportsFormat(VkFormat Format, VkFormatFeatureFlags Features, bool Linear) const
{
    VkFormatProperties Properties = {};
    vkGetPhysicalDeviceFormatProperties(m_Adapter.m_Handle, Format, &Properties);
    const VkFormatFeatureFlags Available = Linear ? Properties.linearTilingFeatures : Properties.optimalTilingFeatures;
    return (Available & Features) == Features;
}

bool Device::SupportsBufferFormat(VkFormat Format, VkFormatFeatureFlags Features) const
{
    VkFormatProperties Properties = {};
    vkGetPhysicalDeviceFormatProperties(m_Adapter.m_Handle, Format, &Properties);
    return (Properties.bufferFeatures & Features) == Features;
}

void Device::MarkRemoved(VkResult Reason)
{
    VkResult Expected = VK_SUCCESS;
    m_RemovedReason.compare_exchange_strong(Expected, Reason, std::memory_order_acq_rel);
}

} // namespace Platform::Vulkan

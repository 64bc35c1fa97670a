#include "Vulkan/Memory.h"
#include "Structure.h"

#include "AccessState.h"
#include "Error.h"

namespace Platform::Vulkan {

namespace {

constexpr VkExternalMemoryHandleTypeFlagBits ExportType = VK_EXTERNAL_MEMORY_HANDLE_TYPE_OPAQUE_FD_BIT;

// Whether buffers of Usage export as opaque file descriptors, and whether
// only as dedicated allocations.
bool ExportsBuffers(const Device& Owner, VkBufferUsageFlags Usage, bool& DedicatedOnly)
{
    if (!Owner.m_GetMemoryFd)
        return false;
    auto Info =
        Vulkan::Describe<VkPhysicalDeviceExternalBufferInfo>(VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_EXTERNAL_BUFFER_INFO);
    Info.usage = Usage;
    Info.handleType = ExportType;
    auto Properties = Vulkan::Describe<VkExternalBufferProperties>(VK_STRUCTURE_TYPE_EXTERNAL_BUFFER_PROPERTIES);
    vkGetPhysicalDeviceExternalBufferProperties(Owner.Adapter().m_Handle, &Info, &Properties);
    const VkExternalMemoryFeatureFlags Features = Properties.externalMemoryProperties.externalMemoryFeatures;
    DedicatedOnly = (Features & VK_EXTERNAL_MEMORY_FEATURE_DEDICATED_ONLY_BIT) != 0;
    return (Features & VK_EXTERNAL_MEMORY_FEATURE_EXPORTABLE_BIT) != 0;
}

} // namespace

VkResult Buffer::Create(std::shared_ptr<Device> Device, VkDeviceSize Size, VkBufferUsageFlags Usage, Access Access,
                        std::shared_ptr<Buffer>& Result)
{
    std::shared_ptr<Buffer> Created(new (std::nothrow) Buffer(std::move(Device)));
    if (!Created || !Created->m_State)
        return VK_ERROR_OUT_OF_HOST_MEMORY;
    const VkDevice Handle = Created->m_Device->Handle();
    // Whole words, so that a fill reaches every byte.
    Size = (Size + 3) & ~VkDeviceSize(3);
    const bool Exported = Access == Access::Exported;
    bool DedicatedOnly = false;
    if (Exported && !ExportsBuffers(*Created->m_Device, Usage, DedicatedOnly))
        return VK_ERROR_FEATURE_NOT_PRESENT;
    auto External =
        Vulkan::Describe<VkExternalMemoryBufferCreateInfo>(VK_STRUCTURE_TYPE_EXTERNAL_MEMORY_BUFFER_CREATE_INFO);
    External.handleTypes = ExportType;
    auto CreateInfo =
        Vulkan::Describe<VkBufferCreateInfo>(VK_STRUCTURE_TYPE_BUFFER_CREATE_INFO, Exported ? &External : nullptr);
    CreateInfo.size = Size;
    CreateInfo.usage = Usage;
    CreateInfo.sharingMode = VK_SHARING_MODE_EXCLUSIVE;
    VK_RETURN_IF_FAILED(vkCreateBuffer(Handle, &CreateInfo, nullptr, &Created->m_Handle));
    Created->m_Size = Size;

    VkMemoryRequirements Requirements;
    vkGetBufferMemoryRequirements(Handle, Created->m_Handle, &Requirements);
    // Exported memory: dedicated to the buffer where the driver asks for it.
    auto Dedication = Vulkan::Describe<VkMemoryDedicatedAllocateInfo>(VK_STRUCTURE_TYPE_MEMORY_DEDICATED_ALLOCATE_INFO);
    Dedication.buffer = Created->m_Handle;
    auto Export = Vulkan::Describe<VkExportMemoryAllocateInfo>(VK_STRUCTURE_TYPE_EXPORT_MEMORY_ALLOCATE_INFO,
                                                               DedicatedOnly ? &Dedication : nullptr);
    Export.handleTypes = ExportType;
    VkMemoryPropertyFlags Required = 0, Preferred = 0, Obtained = 0;
    switch (Access)
    {
    case Access::Device:
    case Access::Exported: Preferred = VK_MEMORY_PROPERTY_DEVICE_LOCAL_BIT; break;
    case Access::HostWrite:
        Required = VK_MEMORY_PROPERTY_HOST_VISIBLE_BIT;
        Preferred = VK_MEMORY_PROPERTY_HOST_COHERENT_BIT;
        break;
    case Access::HostRead:
        Required = VK_MEMORY_PROPERTY_HOST_VISIBLE_BIT;
        Preferred = VK_MEMORY_PROPERTY_HOST_CACHED_BIT | VK_MEMORY_PROPERTY_HOST_COHERENT_BIT;
        break;
    }
    const VkResult Allocated = Created->m_Device->Allocate(Requirements, Required, Preferred, Created->m_Memory,
                                                           Obtained, Exported ? &Export : nullptr);
    if (Allocated != VK_SUCCESS)
        return Allocated;
    VK_RETURN_IF_FAILED(vkBindBufferMemory(Handle, Created->m_Handle, Created->m_Memory, 0));
    Created->m_Exported = Exported;
    Created->m_Dedicated = DedicatedOnly;
    Created->m_AllocationSize = Requirements.size;
    if (Access == Access::HostWrite || Access == Access::HostRead)
    {
        void* Mapped = nullptr;
        VK_RETURN_IF_FAILED(vkMapMemory(Handle, Created->m_Memory, 0, VK_WHOLE_SIZE, 0, &Mapped));
        Created->m_Mapped = static_cast<uint8_t*>(Mapped);
        Created->m_Coherent = (Obtained & VK_MEMORY_PROPERTY_HOST_COHERENT_BIT) != 0;
    }
    Result = std::move(Created);
    return VK_SUCCESS;
}

Buffer::Buffer(std::shared_ptr<Device> Device) : m_State(new (std::nothrow) AccessState()), m_Device(std::move(Device))
{}

Buffer::~Buffer()
{
    const VkDevice Handle = m_Device->Handle();
    if (m_Handle)
        vkDestroyBuffer(Handle, m_Handle, nullptr);
    if (m_Memory)
        vkFreeMemory(Handle, m_Memory, nullptr);
}

VkResult Buffer::ExportMemory(int& Descriptor) const
{
    Descriptor = -1;
    if (!m_Exported)
        return VK_ERROR_FEATURE_NOT_PRESENT;
    auto Info = Vulkan::Describe<VkMemoryGetFdInfoKHR>(VK_STRUCTURE_TYPE_MEMORY_GET_FD_INFO_KHR);
    Info.memory = m_Memory;
    Info.handleType = ExportType;
    VK_RETURN_IF_FAILED(m_Device->m_GetMemoryFd(m_Device->Handle(), &Info, &Descriptor));
    return VK_SUCCESS;
}

void Buffer::InvalidateHostRange() const
{
    if (m_Mapped && !m_Coherent)
    {
        VkMappedMemoryRange Range = {VK_STRUCTURE_TYPE_MAPPED_MEMORY_RANGE, nullptr, m_Memory, 0, VK_WHOLE_SIZE};
        vkInvalidateMappedMemoryRanges(m_Device->Handle(), 1, &Range);
    }
}

void Buffer::FlushHostRange() const
{
    if (m_Mapped && !m_Coherent)
    {
        VkMappedMemoryRange Range = {VK_STRUCTURE_TYPE_MAPPED_MEMORY_RANGE, nullptr, m_Memory, 0, VK_WHOLE_SIZE};
        vkFlushMappedMemoryRanges(m_Device->Handle(), 1, &Range);
    }
}

bool Image::CanPlaceOnHost(const Device& Device, VkFormat Format, VkImageUsageFlags Usage)
{
    VkImageFormatProperties Properties = {};
    return vkGetPhysicalDeviceImageFormatProperties(Device.Adapter().m_Handle, Format, VK_IMAGE_TYPE_2D,
                                                    VK_IMAGE_TILING_LINEAR, Usage, 0, &Properties) == VK_SUCCESS &&
           (Properties.sampleCounts & VK_SAMPLE_COUNT_1_BIT);
}

VkResult Image::Create(std::shared_ptr<Device> Device, VkFormat Format, uint32_t Width, uint32_t Height,
                       VkImageUsageFlags Usage, std::shared_ptr<Image>& Result, Placement Where)
{
    std::shared_ptr<Image> Created(new (std::nothrow) Image(std::move(Device)));
    if (!Created || !Created->m_State)
        return VK_ERROR_OUT_OF_HOST_MEMORY;
    const VkDevice Handle = Created->m_Device->Handle();
    const bool OnHost = Where == Placement::Host;
    auto CreateInfo = Vulkan::Describe<VkImageCreateInfo>(VK_STRUCTURE_TYPE_IMAGE_CREATE_INFO);
    CreateInfo.imageType = VK_IMAGE_TYPE_2D;
    CreateInfo.format = Format;
    CreateInfo.extent = {Width, Height, 1};
    CreateInfo.mipLevels = 1;
    CreateInfo.arrayLayers = 1;
    CreateInfo.samples = VK_SAMPLE_COUNT_1_BIT;
    CreateInfo.tiling = OnHost ? VK_IMAGE_TILING_LINEAR : VK_IMAGE_TILING_OPTIMAL;
    CreateInfo.usage = Usage;
    CreateInfo.sharingMode = VK_SHARING_MODE_EXCLUSIVE;
    CreateInfo.initialLayout = VK_IMAGE_LAYOUT_UNDEFINED;
    VK_RETURN_IF_FAILED(vkCreateImage(Handle, &CreateInfo, nullptr, &Created->m_Handle));
    Created->m_Format = Format;
    Created->m_Usage = Usage;
    Created->m_Width = Width;
    Created->m_Height = Height;

    VkMemoryRequirements Requirements;
    vkGetImageMemoryRequirements(Handle, Created->m_Handle, &Requirements);
    VkMemoryPropertyFlags Obtained = 0;
    const VkResult Allocated =
        Created->m_Device->Allocate(Requirements, OnHost ? VK_MEMORY_PROPERTY_HOST_VISIBLE_BIT : 0,
                                    OnHost ? VK_MEMORY_PROPERTY_HOST_CACHED_BIT | VK_MEMORY_PROPERTY_HOST_COHERENT_BIT
                                           : VK_MEMORY_PROPERTY_DEVICE_LOCAL_BIT,
                                    Created->m_Memory, Obtained);
    if (Allocated != VK_SUCCESS)
        return Allocated;
    VK_RETURN_IF_FAILED(vkBindImageMemory(Handle, Created->m_Handle, Created->m_Memory, 0));
    if (OnHost)
    {
        const VkImageSubresource Plane = {VK_IMAGE_ASPECT_COLOR_BIT, 0, 0};
        VkSubresourceLayout Layout = {};
        vkGetImageSubresourceLayout(Handle, Created->m_Handle, &Plane, &Layout);
        void* Mapped = nullptr;
        VK_RETURN_IF_FAILED(vkMapMemory(Handle, Created->m_Memory, 0, VK_WHOLE_SIZE, 0, &Mapped));
        Created->m_Mapped = static_cast<uint8_t*>(Mapped) + Layout.offset;
        Created->m_RowPitch = Layout.rowPitch;
        Created->m_Coherent = (Obtained & VK_MEMORY_PROPERTY_HOST_COHERENT_BIT) != 0;
    }
    Result = std::move(Created);
    return VK_SUCCESS;
}

void Image::InvalidateHostRange() const
{
    if (m_Mapped && !m_Coherent)
    {
        VkMappedMemoryRange Range = {VK_STRUCTURE_TYPE_MAPPED_MEMORY_RANGE, nullptr, m_Memory, 0, VK_WHOLE_SIZE};
        vkInvalidateMappedMemoryRanges(m_Device->Handle(), 1, &Range);
    }
}

VkImageView Image::ReadView()
{
    if (m_ReadView || !(m_Usage & VK_IMAGE_USAGE_SAMPLED_BIT))
        return m_ReadView;
    auto CreateInfo = Vulkan::Describe<VkImageViewCreateInfo>(VK_STRUCTURE_TYPE_IMAGE_VIEW_CREATE_INFO);
    CreateInfo.image = m_Handle;
    CreateInfo.viewType = VK_IMAGE_VIEW_TYPE_2D;
    CreateInfo.format = m_Format;
    CreateInfo.subresourceRange = {VK_IMAGE_ASPECT_COLOR_BIT, 0, 1, 0, 1};
    if (vkCreateImageView(m_Device->Handle(), &CreateInfo, nullptr, &m_ReadView) != VK_SUCCESS)
        m_ReadView = VK_NULL_HANDLE;
    return m_ReadView;
}

Image::Image(std::shared_ptr<Device> Device) : m_State(new (std::nothrow) AccessState()), m_Device(std::move(Device)) {}

Image::~Image()
{
    const VkDevice Handle = m_Device->Handle();
    if (m_ReadView)
        vkDestroyImageView(Handle, m_ReadView, nullptr);
    if (m_Handle)
        vkDestroyImage(Handle, m_Handle, nullptr);
    if (m_Memory)
        vkFreeMemory(Handle, m_Memory, nullptr);
}

VkResult ImageView::Create(std::shared_ptr<Image> Image, VkFormat Format, std::shared_ptr<ImageView>& Result)
{
    std::shared_ptr<ImageView> Created(new (std::nothrow) ImageView(std::move(Image)));
    if (!Created)
        return VK_ERROR_OUT_OF_HOST_MEMORY;
    auto CreateInfo = Vulkan::Describe<VkImageViewCreateInfo>(VK_STRUCTURE_TYPE_IMAGE_VIEW_CREATE_INFO);
    CreateInfo.image = Created->m_Image->Handle();
    CreateInfo.viewType = VK_IMAGE_VIEW_TYPE_2D;
    CreateInfo.format = Format;
    CreateInfo.subresourceRange = {VK_IMAGE_ASPECT_COLOR_BIT, 0, 1, 0, 1};
    VK_RETURN_IF_FAILED(
        vkCreateImageView(Created->m_Image->Owner()->Handle(), &CreateInfo, nullptr, &Created->m_Handle));
    Created->m_Format = Format;
    Result = std::move(Created);
    return VK_SUCCESS;
}

ImageView::~ImageView()
{
    if (m_Handle)
        vkDestroyImageView(m_Image->Owner()->Handle(), m_Handle, nullptr);
}

} // namespace Platform::Vulkan

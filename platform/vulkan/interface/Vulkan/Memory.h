// Buffers, images and image views, each with memory of its own. Each holds
// its device, so that work still in flight can keep it alive, and the state
// in which the command context last left it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include <vulkan/vulkan.h>

#include "Device.h"

namespace Platform::Vulkan {

// Kept by the command context (AccessState.h).
struct AccessState;

class Buffer
{
public:
    enum class Access
    {
        Device,    // device-local
        HostWrite, // host-visible, written by the host
        HostRead,  // host-visible, read by the host (cached where possible)
        Exported,  // device-local, its memory exportable as an opaque file descriptor
    };

    static VkResult Create(std::shared_ptr<Device> Device, VkDeviceSize Size, VkBufferUsageFlags Usage, Access Access,
                           std::shared_ptr<Buffer>& Result);
    ~Buffer();
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;

    VkBuffer Handle() const { return m_Handle; }
    VkDeviceSize Size() const { return m_Size; }
    // The persistent host mapping; null for device-local buffers.
    uint8_t* Mapped() const { return m_Mapped; }
    // Makes device writes visible to the host, and host writes to the device,
    // where the memory is not coherent.
    void InvalidateHostRange() const;
    void FlushHostRange() const;

    // Exported buffers: a new file descriptor of the memory, which the
    // caller owns; the size of the allocation behind it, and whether an
    // importer must take it as a dedicated allocation.
    // VK_ERROR_FEATURE_NOT_PRESENT for others.
    VkResult ExportMemory(int& Descriptor) const;
    VkDeviceSize AllocationSize() const { return m_AllocationSize; }
    bool Dedicated() const { return m_Dedicated; }

    // How the command context last left the buffer.
    const std::unique_ptr<AccessState> m_State;

private:
    explicit Buffer(std::shared_ptr<Device> Device);

    std::shared_ptr<Device> m_Device;
    VkBuffer m_Handle = VK_NULL_HANDLE;
    VkDeviceMemory m_Memory = VK_NULL_HANDLE;
    VkDeviceSize m_Size = 0;
    uint8_t* m_Mapped = nullptr;
    bool m_Coherent = true;
    bool m_Exported = false;
    bool m_Dedicated = false;
    VkDeviceSize m_AllocationSize = 0;
};

class Image
{
public:
    enum class Placement
    {
        Device, // optimal tiling in device-local memory
        // Linear rows in host-visible memory, mapped for as long as the
        // image lives, so that the host reads the pixels where they lie.
        Host,
    };

    static VkResult Create(std::shared_ptr<Device> Device, VkFormat Format, uint32_t Width, uint32_t Height,
                           VkImageUsageFlags Usage, std::shared_ptr<Image>& Result,
                           Placement Where = Placement::Device);
    // Whether Device can make an image of Format for Usage in host memory.
    static bool CanPlaceOnHost(const Device& Device, VkFormat Format, VkImageUsageFlags Usage);
    ~Image();
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

    VkImage Handle() const { return m_Handle; }
    VkFormat Format() const { return m_Format; }
    uint32_t Width() const { return m_Width; }
    uint32_t Height() const { return m_Height; }
    const std::shared_ptr<Device>& Owner() const { return m_Device; }

    VkImageUsageFlags Usage() const { return m_Usage; }
    // A host-placed image's pixels (its one plane) and the distance between
    // its rows; null for device images. The host may read them while the
    // image is in the general layout and the device's writes are visible to
    // it (CommandContext::PrepareHostRead), after InvalidateHostRange.
    const uint8_t* Mapped() const { return m_Mapped; }
    VkDeviceSize RowPitch() const { return m_RowPitch; }
    void InvalidateHostRange() const;

    // A view of the whole image for shaders that read it, made on first use
    // (under the command context's owner's lock); null when it cannot be.
    VkImageView ReadView();

    // Kept by the command context: the state, and a clear that waits for the
    // image's next use (a render pass loads it as its clear).
    const std::unique_ptr<AccessState> m_State;
    std::optional<VkClearColorValue> m_PendingClear;

private:
    explicit Image(std::shared_ptr<Device> Device);

    std::shared_ptr<Device> m_Device;
    VkImage m_Handle = VK_NULL_HANDLE;
    VkDeviceMemory m_Memory = VK_NULL_HANDLE;
    VkFormat m_Format = VK_FORMAT_UNDEFINED;
    VkImageUsageFlags m_Usage = 0;
    uint32_t m_Width = 0;
    uint32_t m_Height = 0;
    VkImageView m_ReadView = VK_NULL_HANDLE;
    uint8_t* m_Mapped = nullptr;
    VkDeviceSize m_RowPitch = 0;
    bool m_Coherent = true;
};

// A range of a buffer: what the front's resources hold, so that a small
// buffer can be renamed to a new range of the upload ring.
struct BufferSlice
{
    std::shared_ptr<Buffer> m_Buffer;
    VkDeviceSize m_Offset = 0;
    VkDeviceSize m_Size = 0;

    // The host's view of the range; null for device-local memory.
    uint8_t* Host() const { return m_Buffer && m_Buffer->Mapped() ? m_Buffer->Mapped() + m_Offset : nullptr; }
    static BufferSlice Whole(std::shared_ptr<Buffer> Buffer)
    {
        const VkDeviceSize Size = Buffer->Size();
        return {std::move(Buffer), 0, Size};
    }
};

class ImageView
{
public:
    static VkResult Create(std::shared_ptr<Image> Image, VkFormat Format, std::shared_ptr<ImageView>& Result);
    ~ImageView();
    ImageView(const ImageView&) = delete;
    ImageView& operator=(const ImageView&) = delete;

    VkImageView Handle() const { return m_Handle; }
    VkFormat Format() const { return m_Format; }
    const std::shared_ptr<Image>& Target() const { return m_Image; }

private:
    explicit ImageView(std::shared_ptr<Image> Image) : m_Image(std::move(Image)) {}

    std::shared_ptr<Image> m_Image;
    VkImageView m_Handle = VK_NULL_HANDLE;
    VkFormat m_Format = VK_FORMAT_UNDEFINED;
};

} // namespace Platform::Vulkan

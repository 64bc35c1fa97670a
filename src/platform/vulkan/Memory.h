// Buffers, images and image views, each with memory of its own. Each holds
// its device, so that work still in flight can keep it alive.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include <vulkan/vulkan.h>

#include <winerror.h>

#include "Device.h"

namespace Platform::Vulkan {

class Buffer
{
public:
    enum class Access
    {
        Device,    // device-local
        HostWrite, // host-visible, written by the host
        HostRead,  // host-visible, read by the host (cached where possible)
    };

    static HRESULT Create(std::shared_ptr<Device> Device, VkDeviceSize Size, VkBufferUsageFlags Usage, Access Access,
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

    // The timeline value of the last submission that uses the buffer; kept by
    // the command stream's owner under its lock.
    uint64_t m_LastUse = 0;

private:
    explicit Buffer(std::shared_ptr<Device> Device) : m_Device(std::move(Device)) {}

    std::shared_ptr<Device> m_Device;
    VkBuffer m_Handle = VK_NULL_HANDLE;
    VkDeviceMemory m_Memory = VK_NULL_HANDLE;
    VkDeviceSize m_Size = 0;
    uint8_t* m_Mapped = nullptr;
    bool m_Coherent = true;
};

class Image
{
public:
    static HRESULT Create(std::shared_ptr<Device> Device, VkFormat Format, uint32_t Width, uint32_t Height,
                          VkImageUsageFlags Usage, std::shared_ptr<Image>& Result);
    ~Image();
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

    VkImage Handle() const { return m_Handle; }
    VkFormat Format() const { return m_Format; }
    uint32_t Width() const { return m_Width; }
    uint32_t Height() const { return m_Height; }
    const std::shared_ptr<Device>& Owner() const { return m_Device; }

    // Recording state, kept by the command stream's owner under its lock:
    // whether the image has left the undefined layout (it lives in the general
    // layout afterwards), a clear that waits for the image's next use, and the
    // last submission that uses it.
    bool m_Initialized = false;
    std::optional<VkClearColorValue> m_PendingClear;
    uint64_t m_LastUse = 0;

private:
    explicit Image(std::shared_ptr<Device> Device) : m_Device(std::move(Device)) {}

    std::shared_ptr<Device> m_Device;
    VkImage m_Handle = VK_NULL_HANDLE;
    VkDeviceMemory m_Memory = VK_NULL_HANDLE;
    VkFormat m_Format = VK_FORMAT_UNDEFINED;
    uint32_t m_Width = 0;
    uint32_t m_Height = 0;
};

class ImageView
{
public:
    static HRESULT Create(std::shared_ptr<Image> Image, VkFormat Format, std::shared_ptr<ImageView>& Result);
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

// Colour conversion on the device: a compute pass that turns an 8-bit RGB
// image into the two planes of NV12 (BT.709, limited range) in a buffer, so
// that a frame leaves the device at 1.5 bytes a pixel instead of 4.
#pragma once

#include <memory>

#include <vulkan/vulkan.h>

#include <winerror.h>

#include "Device.h"

namespace Platform::Vulkan {

// Where the planes lie in the target buffer, in bytes; offsets and pitches
// are multiples of 4, and each row has room for the width rounded up to 4.
struct Nv12Planes
{
    uint32_t m_Width = 0;  // even
    uint32_t m_Height = 0; // even
    VkDeviceSize m_LumaOffset = 0;
    uint32_t m_LumaPitch = 0;
    VkDeviceSize m_ChromaOffset = 0;
    uint32_t m_ChromaPitch = 0;
};

class ColorConversion
{
public:
    explicit ColorConversion(std::shared_ptr<Device> Device) : m_Device(std::move(Device)) {}
    ~ColorConversion();
    ColorConversion(const ColorConversion&) = delete;
    ColorConversion& operator=(const ColorConversion&) = delete;

    HRESULT Initialize();

    // Whether images of Format can be read: 8-bit RGB that a sampler returns
    // as it is stored.
    static bool Converts(VkFormat Format);
    // Records the pass: Source (a view in the shader-read-only layout) into
    // Planes of Target from Offset on. The caller records the barriers.
    void Record(VkCommandBuffer Commands, VkImageView Source, VkBuffer Target, VkDeviceSize Offset,
                const Nv12Planes& Planes) const;

private:
    std::shared_ptr<Device> m_Device;
    VkSampler m_Sampler = VK_NULL_HANDLE;
    VkDescriptorSetLayout m_SetLayout = VK_NULL_HANDLE;
    VkPipelineLayout m_Layout = VK_NULL_HANDLE;
    VkShaderModule m_Module = VK_NULL_HANDLE;
    VkPipeline m_Pipeline = VK_NULL_HANDLE;
};

} // namespace Platform::Vulkan

// Colour conversion on the device: a compute pass that turns an 8-bit RGB
// image into the two planes of NV12 (BT.709, limited range) in a buffer, so
// that a frame leaves the device at 1.5 bytes a pixel instead of 4.
#pragma once

#include <memory>

#include <vulkan/vulkan.h>

#include "Vulkan/Device.h"
#include "Vulkan/Operations.h"

namespace Platform::Vulkan {

class ColorConversion
{
public:
    explicit ColorConversion(std::shared_ptr<Device> Device) : m_Device(std::move(Device)) {}
    ~ColorConversion();
    ColorConversion(const ColorConversion&) = delete;
    ColorConversion& operator=(const ColorConversion&) = delete;

    VkResult Initialize();

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

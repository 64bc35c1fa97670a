// A Vulkan shader module, owned with its device.
#pragma once

#include <memory>
#include <vector>

#include <vulkan/vulkan.h>

#include "Device.h"

namespace Platform::Vulkan {

class ShaderModule
{
public:
    static VkResult Create(std::shared_ptr<Device> Device, const uint32_t* Code, size_t WordCount,
                           std::shared_ptr<ShaderModule>& Result);
    ~ShaderModule();
    ShaderModule(const ShaderModule&) = delete;
    ShaderModule& operator=(const ShaderModule&) = delete;

    VkShaderModule Handle() const { return m_Handle; }

private:
    explicit ShaderModule(std::shared_ptr<Device> Device) : m_Device(std::move(Device)) {}

    std::shared_ptr<Device> m_Device;
    VkShaderModule m_Handle = VK_NULL_HANDLE;
};

} // namespace Platform::Vulkan

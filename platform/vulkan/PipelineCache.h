// Graphics pipelines made from bound state, cached for the device's life, and
// the one pipeline layout they share: one push-descriptor set of uniform
// buffers, its bindings as the owner describes them.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include <vulkan/vulkan.h>

#include "Vulkan/Device.h"
#include "Vulkan/Operations.h"

namespace Platform::Vulkan {

class PipelineCache
{
public:
    explicit PipelineCache(std::shared_ptr<Device> Device);
    ~PipelineCache();
    PipelineCache(const PipelineCache&) = delete;
    PipelineCache& operator=(const PipelineCache&) = delete;

    // Uniform buffers at the bindings given, each read by the stages given.
    VkResult Initialize(const std::vector<VkDescriptorSetLayoutBinding>& UniformBindings);

    VkPipelineLayout Layout() const { return m_Layout; }
    // The stages that read the uniform buffer at Binding; 0 for none.
    VkShaderStageFlags StagesOf(uint32_t Binding) const;
    // The pipeline for Description, made on first request. Not thread-safe:
    // the immediate context's lock serialises callers.
    VkResult Get(const PipelineDescription& Description, VkPipeline& Pipeline);

private:
    VkResult Create(const PipelineDescription& Description, VkPipeline& Pipeline);

    std::shared_ptr<Device> m_Device;
    VkPipelineCache m_Cache = VK_NULL_HANDLE;
    VkDescriptorSetLayout m_SetLayout = VK_NULL_HANDLE;
    VkPipelineLayout m_Layout = VK_NULL_HANDLE;
    std::map<std::vector<uint64_t>, VkPipeline> m_Pipelines;
    std::vector<VkDescriptorSetLayoutBinding> m_Bindings;
};

} // namespace Platform::Vulkan

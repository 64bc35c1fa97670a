// Graphics pipelines made from bound state, cached for the device's life, and
// the one pipeline layout they share: one push-descriptor set of uniform
// buffers, its bindings as the owner describes them.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include <vulkan/vulkan.h>

#include <winerror.h>

#include "Device.h"

namespace Platform::Vulkan {

struct PipelineDescription
{
    // Identities of the shader objects and input layout (never reused), which
    // together with the state below make the cache key.
    uint64_t m_VertexShaderId = 0;
    uint64_t m_PixelShaderId = 0;
    uint64_t m_InputLayoutId = 0;
    VkShaderModule m_VertexShader = VK_NULL_HANDLE;
    VkShaderModule m_PixelShader = VK_NULL_HANDLE;
    const char* m_VertexEntryPoint = "main";
    const char* m_PixelEntryPoint = "main";
    std::vector<VkVertexInputBindingDescription> m_Bindings;
    std::vector<VkVertexInputAttributeDescription> m_Attributes;
    VkPrimitiveTopology m_Topology = VK_PRIMITIVE_TOPOLOGY_TRIANGLE_LIST;
    VkCullModeFlags m_CullMode = VK_CULL_MODE_NONE;
    VkFrontFace m_FrontFace = VK_FRONT_FACE_COUNTER_CLOCKWISE;
    std::vector<VkFormat> m_ColorFormats;
};

class PipelineCache
{
public:
    explicit PipelineCache(std::shared_ptr<Device> Device);
    ~PipelineCache();
    PipelineCache(const PipelineCache&) = delete;
    PipelineCache& operator=(const PipelineCache&) = delete;

    // Uniform buffers at the bindings given, each read by the stages given.
    HRESULT Initialize(const std::vector<VkDescriptorSetLayoutBinding>& UniformBindings);

    VkPipelineLayout Layout() const { return m_Layout; }
    // The stages that read the uniform buffer at Binding; 0 for none.
    VkShaderStageFlags StagesOf(uint32_t Binding) const;
    // The pipeline for Description, made on first request. Not thread-safe:
    // the immediate context's lock serialises callers.
    HRESULT Get(const PipelineDescription& Description, VkPipeline& Pipeline);

private:
    HRESULT Create(const PipelineDescription& Description, VkPipeline& Pipeline);

    std::shared_ptr<Device> m_Device;
    VkPipelineCache m_Cache = VK_NULL_HANDLE;
    VkDescriptorSetLayout m_SetLayout = VK_NULL_HANDLE;
    VkPipelineLayout m_Layout = VK_NULL_HANDLE;
    std::map<std::vector<uint64_t>, VkPipeline> m_Pipelines;
    std::vector<VkDescriptorSetLayoutBinding> m_Bindings;
};

} // namespace Platform::Vulkan

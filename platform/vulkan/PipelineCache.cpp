#include "PipelineCache.h"
#include "Structure.h"

#include "Error.h"

namespace Platform::Vulkan {

PipelineCache::PipelineCache(std::shared_ptr<Device> Device) : m_Device(std::move(Device)) {}

PipelineCache::~PipelineCache()
{
    const VkDevice Handle = m_Device->Handle();
    for (auto& [Key, Pipeline] : m_Pipelines)
        vkDestroyPipeline(Handle, Pipeline, nullptr);
    if (m_Layout)
        vkDestroyPipelineLayout(Handle, m_Layout, nullptr);
    if (m_SetLayout)
        vkDestroyDescriptorSetLayout(Handle, m_SetLayout, nullptr);
    if (m_Cache)
        vkDestroyPipelineCache(Handle, m_Cache, nullptr);
}

VkResult PipelineCache::Initialize(const std::vector<VkDescriptorSetLayoutBinding>& UniformBindings)
{
    const VkDevice Handle = m_Device->Handle();
    auto CacheInfo = Vulkan::Describe<VkPipelineCacheCreateInfo>(VK_STRUCTURE_TYPE_PIPELINE_CACHE_CREATE_INFO);
    VK_RETURN_IF_FAILED(vkCreatePipelineCache(Handle, &CacheInfo, nullptr, &m_Cache));

    m_Bindings = UniformBindings;
    auto SetInfo =
        Vulkan::Describe<VkDescriptorSetLayoutCreateInfo>(VK_STRUCTURE_TYPE_DESCRIPTOR_SET_LAYOUT_CREATE_INFO);
    SetInfo.flags = VK_DESCRIPTOR_SET_LAYOUT_CREATE_PUSH_DESCRIPTOR_BIT_KHR;
    SetInfo.bindingCount = static_cast<uint32_t>(m_Bindings.size());
    SetInfo.pBindings = m_Bindings.data();
    VK_RETURN_IF_FAILED(vkCreateDescriptorSetLayout(Handle, &SetInfo, nullptr, &m_SetLayout));

    auto LayoutInfo = Vulkan::Describe<VkPipelineLayoutCreateInfo>(VK_STRUCTURE_TYPE_PIPELINE_LAYOUT_CREATE_INFO);
    LayoutInfo.setLayoutCount = 1;
    LayoutInfo.pSetLayouts = &m_SetLayout;
    VK_RETURN_IF_FAILED(vkCreatePipelineLayout(Handle, &LayoutInfo, nullptr, &m_Layout));
    return VK_SUCCESS;
}

VkShaderStageFlags PipelineCache::StagesOf(uint32_t Binding) const
{
    for (const VkDescriptorSetLayoutBinding& Each : m_Bindings)
        if (Each.binding == Binding)
            return Each.stageFlags;
    return 0;
}

VkResult PipelineCache::Get(const PipelineDescription& Description, VkPipeline& Pipeline)
{
    std::vector<uint64_t> Key;
    Key.reserve(8 + 2 * Description.m_Bindings.size() + 2 * Description.m_Attributes.size());
    Key.push_back(Description.m_VertexShaderId);
    Key.push_back(Description.m_PixelShaderId);
    Key.push_back(Description.m_InputLayoutId);
    Key.push_back(Description.m_Topology);
    Key.push_back((uint64_t(Description.m_CullMode) << 32) | Description.m_FrontFace);
    for (VkFormat Format : Description.m_ColorFormats)
        Key.push_back(Format);
    Key.push_back(~0ull);
    for (const VkVertexInputBindingDescription& Binding : Description.m_Bindings)
        Key.push_back((uint64_t(Binding.binding) << 40) | (uint64_t(Binding.inputRate) << 32) | Binding.stride);
    Key.push_back(~0ull);
    for (const VkVertexInputAttributeDescription& Attribute : Description.m_Attributes)
    {
        Key.push_back((uint64_t(Attribute.location) << 32) | Attribute.binding);
        Key.push_back((uint64_t(Attribute.format) << 32) | Attribute.offset);
    }

    const auto Found = m_Pipelines.find(Key);
    if (Found != m_Pipelines.end())
    {
        Pipeline = Found->second;
        return VK_SUCCESS;
    }
    const VkResult Result = Create(Description, Pipeline);
    if (Result == VK_SUCCESS)
        m_Pipelines.emplace(std::move(Key), Pipeline);
    return Result;
}

VkResult PipelineCache::Create(const PipelineDescription& Description, VkPipeline& Pipeline)
{
    VkPipelineShaderStageCreateInfo Stages[2] = {};
    Stages[0] = Vulkan::Describe<std::remove_reference_t<decltype(Stages[0])>>(
        VK_STRUCTURE_TYPE_PIPELINE_SHADER_STAGE_CREATE_INFO);
    Stages[0].stage = VK_SHADER_STAGE_VERTEX_BIT;
    Stages[0].module = Description.m_VertexShader;
    Stages[0].pName = Description.m_VertexEntryPoint;
    Stages[1] = Vulkan::Describe<std::remove_reference_t<decltype(Stages[1])>>(
        VK_STRUCTURE_TYPE_PIPELINE_SHADER_STAGE_CREATE_INFO);
    Stages[1].stage = VK_SHADER_STAGE_FRAGMENT_BIT;
    Stages[1].module = Description.m_PixelShader;
    Stages[1].pName = Description.m_PixelEntryPoint;

    auto VertexInput = Vulkan::Describe<VkPipelineVertexInputStateCreateInfo>(
        VK_STRUCTURE_TYPE_PIPELINE_VERTEX_INPUT_STATE_CREATE_INFO);
    VertexInput.vertexBindingDescriptionCount = static_cast<uint32_t>(Description.m_Bindings.size());
    VertexInput.pVertexBindingDescriptions = Description.m_Bindings.data();
    VertexInput.vertexAttributeDescriptionCount = static_cast<uint32_t>(Description.m_Attributes.size());
    VertexInput.pVertexAttributeDescriptions = Description.m_Attributes.data();

    auto InputAssembly = Vulkan::Describe<VkPipelineInputAssemblyStateCreateInfo>(
        VK_STRUCTURE_TYPE_PIPELINE_INPUT_ASSEMBLY_STATE_CREATE_INFO);
    InputAssembly.topology = Description.m_Topology;

    auto Viewport =
        Vulkan::Describe<VkPipelineViewportStateCreateInfo>(VK_STRUCTURE_TYPE_PIPELINE_VIEWPORT_STATE_CREATE_INFO);
    Viewport.viewportCount = 1;
    Viewport.scissorCount = 1;

    // Solid, depth clipped, culled as the description says.
    auto Rasterization = Vulkan::Describe<VkPipelineRasterizationStateCreateInfo>(
        VK_STRUCTURE_TYPE_PIPELINE_RASTERIZATION_STATE_CREATE_INFO);
    Rasterization.polygonMode = VK_POLYGON_MODE_FILL;
    Rasterization.cullMode = Description.m_CullMode;
    Rasterization.frontFace = Description.m_FrontFace;
    Rasterization.lineWidth = 1.0f;

    auto Multisample = Vulkan::Describe<VkPipelineMultisampleStateCreateInfo>(
        VK_STRUCTURE_TYPE_PIPELINE_MULTISAMPLE_STATE_CREATE_INFO);
    Multisample.rasterizationSamples = VK_SAMPLE_COUNT_1_BIT;

    std::vector<VkPipelineColorBlendAttachmentState> Attachments(Description.m_ColorFormats.size());
    for (VkPipelineColorBlendAttachmentState& Attachment : Attachments)
        Attachment.colorWriteMask =
            VK_COLOR_COMPONENT_R_BIT | VK_COLOR_COMPONENT_G_BIT | VK_COLOR_COMPONENT_B_BIT | VK_COLOR_COMPONENT_A_BIT;
    auto Blend =
        Vulkan::Describe<VkPipelineColorBlendStateCreateInfo>(VK_STRUCTURE_TYPE_PIPELINE_COLOR_BLEND_STATE_CREATE_INFO);
    Blend.attachmentCount = static_cast<uint32_t>(Attachments.size());
    Blend.pAttachments = Attachments.data();

    const VkDynamicState DynamicStates[] = {VK_DYNAMIC_STATE_VIEWPORT, VK_DYNAMIC_STATE_SCISSOR};
    auto Dynamic =
        Vulkan::Describe<VkPipelineDynamicStateCreateInfo>(VK_STRUCTURE_TYPE_PIPELINE_DYNAMIC_STATE_CREATE_INFO);
    Dynamic.dynamicStateCount = 2;
    Dynamic.pDynamicStates = DynamicStates;

    auto Rendering = Vulkan::Describe<VkPipelineRenderingCreateInfo>(VK_STRUCTURE_TYPE_PIPELINE_RENDERING_CREATE_INFO);
    Rendering.colorAttachmentCount = static_cast<uint32_t>(Description.m_ColorFormats.size());
    Rendering.pColorAttachmentFormats = Description.m_ColorFormats.data();

    auto CreateInfo =
        Vulkan::Describe<VkGraphicsPipelineCreateInfo>(VK_STRUCTURE_TYPE_GRAPHICS_PIPELINE_CREATE_INFO, &Rendering);
    CreateInfo.stageCount = 2;
    CreateInfo.pStages = Stages;
    CreateInfo.pVertexInputState = &VertexInput;
    CreateInfo.pInputAssemblyState = &InputAssembly;
    CreateInfo.pViewportState = &Viewport;
    CreateInfo.pRasterizationState = &Rasterization;
    CreateInfo.pMultisampleState = &Multisample;
    CreateInfo.pColorBlendState = &Blend;
    CreateInfo.pDynamicState = &Dynamic;
    CreateInfo.layout = m_Layout;
    VK_RETURN_IF_FAILED(vkCreateGraphicsPipelines(m_Device->Handle(), m_Cache, 1, &CreateInfo, nullptr, &Pipeline));
    return VK_SUCCESS;
}

} // namespace Platform::Vulkan

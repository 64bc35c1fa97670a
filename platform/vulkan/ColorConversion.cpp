#include "ColorConversion.h"
#include "Structure.h"

#include "Bgra8ToNv12.h" // made from shaders/Bgra8ToNv12.comp at build time
#include "Error.h"

namespace Platform::Vulkan {

namespace {

struct PushConstants
{
    uint32_t m_Width, m_Height;
    uint32_t m_LumaOffset, m_LumaPitch;
    uint32_t m_ChromaOffset, m_ChromaPitch;
};

// Invocations of a workgroup across and down, as the shader declares them;
// each invocation covers four columns and four rows.
constexpr uint32_t GroupWidth = 8, GroupHeight = 8;

} // namespace

ColorConversion::~ColorConversion()
{
    const VkDevice Handle = m_Device->Handle();
    if (m_Pipeline)
        vkDestroyPipeline(Handle, m_Pipeline, nullptr);
    if (m_Module)
        vkDestroyShaderModule(Handle, m_Module, nullptr);
    if (m_Layout)
        vkDestroyPipelineLayout(Handle, m_Layout, nullptr);
    if (m_SetLayout)
        vkDestroyDescriptorSetLayout(Handle, m_SetLayout, nullptr);
    if (m_Sampler)
        vkDestroySampler(Handle, m_Sampler, nullptr);
}

bool ColorConversion::Converts(VkFormat Format)
{
    return Format == VK_FORMAT_B8G8R8A8_UNORM || Format == VK_FORMAT_R8G8B8A8_UNORM;
}

VkResult ColorConversion::Initialize()
{
    const VkDevice Handle = m_Device->Handle();
    auto SamplerInfo = Vulkan::Describe<VkSamplerCreateInfo>(VK_STRUCTURE_TYPE_SAMPLER_CREATE_INFO);
    SamplerInfo.magFilter = SamplerInfo.minFilter = VK_FILTER_NEAREST;
    SamplerInfo.addressModeU = SamplerInfo.addressModeV = SamplerInfo.addressModeW =
        VK_SAMPLER_ADDRESS_MODE_CLAMP_TO_EDGE;
    SamplerInfo.unnormalizedCoordinates = VK_FALSE;
    VK_RETURN_IF_FAILED(vkCreateSampler(Handle, &SamplerInfo, nullptr, &m_Sampler));

    VkDescriptorSetLayoutBinding Bindings[2] = {};
    Bindings[0] = {0, VK_DESCRIPTOR_TYPE_COMBINED_IMAGE_SAMPLER, 1, VK_SHADER_STAGE_COMPUTE_BIT, &m_Sampler};
    Bindings[1] = {1, VK_DESCRIPTOR_TYPE_STORAGE_BUFFER, 1, VK_SHADER_STAGE_COMPUTE_BIT, nullptr};
    auto SetInfo =
        Vulkan::Describe<VkDescriptorSetLayoutCreateInfo>(VK_STRUCTURE_TYPE_DESCRIPTOR_SET_LAYOUT_CREATE_INFO);
    SetInfo.flags = VK_DESCRIPTOR_SET_LAYOUT_CREATE_PUSH_DESCRIPTOR_BIT_KHR;
    SetInfo.bindingCount = 2;
    SetInfo.pBindings = Bindings;
    VK_RETURN_IF_FAILED(vkCreateDescriptorSetLayout(Handle, &SetInfo, nullptr, &m_SetLayout));

    const VkPushConstantRange Range = {VK_SHADER_STAGE_COMPUTE_BIT, 0, sizeof(PushConstants)};
    auto LayoutInfo = Vulkan::Describe<VkPipelineLayoutCreateInfo>(VK_STRUCTURE_TYPE_PIPELINE_LAYOUT_CREATE_INFO);
    LayoutInfo.setLayoutCount = 1;
    LayoutInfo.pSetLayouts = &m_SetLayout;
    LayoutInfo.pushConstantRangeCount = 1;
    LayoutInfo.pPushConstantRanges = &Range;
    VK_RETURN_IF_FAILED(vkCreatePipelineLayout(Handle, &LayoutInfo, nullptr, &m_Layout));

    auto ModuleInfo = Vulkan::Describe<VkShaderModuleCreateInfo>(VK_STRUCTURE_TYPE_SHADER_MODULE_CREATE_INFO);
    ModuleInfo.codeSize = sizeof(Bgra8ToNv12);
    ModuleInfo.pCode = Bgra8ToNv12;
    VK_RETURN_IF_FAILED(vkCreateShaderModule(Handle, &ModuleInfo, nullptr, &m_Module));

    auto PipelineInfo = Vulkan::Describe<VkComputePipelineCreateInfo>(VK_STRUCTURE_TYPE_COMPUTE_PIPELINE_CREATE_INFO);
    PipelineInfo.stage =
        Vulkan::Describe<VkPipelineShaderStageCreateInfo>(VK_STRUCTURE_TYPE_PIPELINE_SHADER_STAGE_CREATE_INFO);
    PipelineInfo.stage.stage = VK_SHADER_STAGE_COMPUTE_BIT;
    PipelineInfo.stage.module = m_Module;
    PipelineInfo.stage.pName = "main";
    PipelineInfo.layout = m_Layout;
    VK_RETURN_IF_FAILED(vkCreateComputePipelines(Handle, VK_NULL_HANDLE, 1, &PipelineInfo, nullptr, &m_Pipeline));
    return VK_SUCCESS;
}

void ColorConversion::Record(VkCommandBuffer Commands, VkImageView Source, VkBuffer Target, VkDeviceSize Offset,
                             const Nv12Planes& Planes) const
{
    const VkDescriptorImageInfo Image = {m_Sampler, Source, VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL};
    // The buffer is bound from Offset on; the planes' offsets count from there.
    const VkDescriptorBufferInfo Buffer = {Target, Offset, VK_WHOLE_SIZE};
    VkWriteDescriptorSet Writes[2];
    for (uint32_t Index = 0; Index < 2; ++Index)
    {
        Writes[Index] = Vulkan::Describe<VkWriteDescriptorSet>(VK_STRUCTURE_TYPE_WRITE_DESCRIPTOR_SET);
        Writes[Index].dstBinding = Index;
        Writes[Index].descriptorCount = 1;
    }
    Writes[0].descriptorType = VK_DESCRIPTOR_TYPE_COMBINED_IMAGE_SAMPLER;
    Writes[0].pImageInfo = &Image;
    Writes[1].descriptorType = VK_DESCRIPTOR_TYPE_STORAGE_BUFFER;
    Writes[1].pBufferInfo = &Buffer;
    const PushConstants Constants = {Planes.m_Width,
                                     Planes.m_Height,
                                     static_cast<uint32_t>(Planes.m_LumaOffset / 4),
                                     Planes.m_LumaPitch / 4,
                                     static_cast<uint32_t>(Planes.m_ChromaOffset / 4),
                                     Planes.m_ChromaPitch / 4};
    vkCmdBindPipeline(Commands, VK_PIPELINE_BIND_POINT_COMPUTE, m_Pipeline);
    m_Device->m_CmdPushDescriptorSet(Commands, VK_PIPELINE_BIND_POINT_COMPUTE, m_Layout, 0, 2, Writes);
    vkCmdPushConstants(Commands, m_Layout, VK_SHADER_STAGE_COMPUTE_BIT, 0, sizeof Constants, &Constants);
    const uint32_t Columns = (Planes.m_Width + 3) / 4, Rows = (Planes.m_Height + 3) / 4;
    vkCmdDispatch(Commands, (Columns + GroupWidth - 1) / GroupWidth, (Rows + GroupHeight - 1) / GroupHeight, 1);
}

} // namespace Platform::Vulkan

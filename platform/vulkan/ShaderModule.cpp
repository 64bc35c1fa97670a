#include "Vulkan/ShaderModule.h"
#include "Structure.h"

#include "Error.h"

namespace Platform::Vulkan {

VkResult ShaderModule::Create(std::shared_ptr<Device> Device, const uint32_t* Code, size_t WordCount,
                              std::shared_ptr<ShaderModule>& Result)
{
    std::shared_ptr<ShaderModule> Created(new (std::nothrow) ShaderModule(std::move(Device)));
    if (!Created)
        return VK_ERROR_OUT_OF_HOST_MEMORY;
    auto CreateInfo = Vulkan::Describe<VkShaderModuleCreateInfo>(VK_STRUCTURE_TYPE_SHADER_MODULE_CREATE_INFO);
    CreateInfo.codeSize = WordCount * sizeof(uint32_t);
    CreateInfo.pCode = Code;
    VK_RETURN_IF_FAILED(vkCreateShaderModule(Created->m_Device->Handle(), &CreateInfo, nullptr, &Created->m_Handle));
    Result = std::move(Created);
    return VK_SUCCESS;
}

ShaderModule::~ShaderModule()
{
    if (m_Handle)
        vkDestroyShaderModule(m_Device->Handle(), m_Handle, nullptr);
}

} // namespace Platform::Vulkan

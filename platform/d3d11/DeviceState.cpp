#include "DeviceState.h"

#include <vector>

namespace Platform::D3D11 {

DeviceState::DeviceState(std::shared_ptr<Vulkan::Device> Device) : m_Commands(Device), m_Vulkan(std::move(Device)) {}

HRESULT DeviceState::Create(std::shared_ptr<Vulkan::Device> Device, D3D_FEATURE_LEVEL FeatureLevel, UINT Flags,
                            std::shared_ptr<DeviceState>& Result)
{
    std::shared_ptr<DeviceState> Created(new (std::nothrow) DeviceState(std::move(Device)));
    if (!Created)
        return E_OUTOFMEMORY;
    Created->m_FeatureLevel = FeatureLevel;
    Created->m_CreationFlags = Flags;
    // Each stage's constant buffers are uniform buffers of its own.
    std::vector<VkDescriptorSetLayoutBinding> Bindings(2 * ConstantBufferSlots);
    for (uint32_t Index = 0; Index < Bindings.size(); ++Index)
    {
        Bindings[Index].binding = Index;
        Bindings[Index].descriptorType = VK_DESCRIPTOR_TYPE_UNIFORM_BUFFER;
        Bindings[Index].descriptorCount = 1;
        Bindings[Index].stageFlags =
            Index < PixelStageBindingBase ? VK_SHADER_STAGE_VERTEX_BIT : VK_SHADER_STAGE_FRAGMENT_BIT;
    }
    const HRESULT Status = Dxgi::HresultFromVk(Created->m_Commands.Initialize(Bindings));
    if (FAILED(Status))
        return Status;
    Result = std::move(Created);
    return S_OK;
}

void DeviceState::SetFront(ID3D11Device* Device)
{
    std::lock_guard Guard(m_Lock);
    m_Front = Device;
}

void DeviceState::GetDevice(ID3D11Device** Device)
{
    if (!Device)
        return;
    std::lock_guard Guard(m_Lock);
    *Device = m_Front;
    if (m_Front)
        m_Front->AddRef();
}

} // namespace Platform::D3D11

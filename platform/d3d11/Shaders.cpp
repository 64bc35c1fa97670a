#include "Shaders.h"

#include "Formats.h"

namespace Platform::D3D11 {

namespace {

// The component type that a vertex format hands to the shader.
ShaderCode::ComponentType ComponentTypeOf(DXGI_FORMAT Format)
{
    switch (Format)
    {
    case DXGI_FORMAT_R32G32B32A32_UINT:
    case DXGI_FORMAT_R32G32B32_UINT:
    case DXGI_FORMAT_R32G32_UINT:
    case DXGI_FORMAT_R32_UINT:
    case DXGI_FORMAT_R16_UINT:
    case DXGI_FORMAT_R8G8B8A8_UINT: return ShaderCode::ComponentType::UnsignedInt;
    case DXGI_FORMAT_R32G32B32A32_SINT:
    case DXGI_FORMAT_R32G32B32_SINT:
    case DXGI_FORMAT_R32G32_SINT:
    case DXGI_FORMAT_R32_SINT: return ShaderCode::ComponentType::SignedInt;
    default: return ShaderCode::ComponentType::Float;
    }
}

std::string UpperCase(const char* Text)
{
    std::string Result(Text);
    for (char& Character : Result)
        if (Character >= 'a' && Character <= 'z')
            Character = static_cast<char>(Character - 'a' + 'A');
    return Result;
}

} // namespace

HRESULT CreateProgram(const std::shared_ptr<DeviceState>& State, const void* Code, SIZE_T Length,
                      ShaderCode::Stage Stage, ShaderProgram& Program)
{
    ShaderCode::Module Module;
    if (FAILED(ShaderCode::Parse(Code, Length, Module)) || Module.m_Stage != Stage)
        return E_INVALIDARG;
    // Shader model 4.0 needs feature level 10.0, 4.1 needs 10.1, 5.x needs 11.0.
    const D3D_FEATURE_LEVEL Level = State->FeatureLevel();
    const D3D_FEATURE_LEVEL Needed = Module.m_ShaderModel >= 50   ? D3D_FEATURE_LEVEL_11_0
                                     : Module.m_ShaderModel >= 41 ? D3D_FEATURE_LEVEL_10_1
                                     : Module.m_ShaderModel >= 40 ? D3D_FEATURE_LEVEL_10_0
                                                                  : D3D_FEATURE_LEVEL_9_1;
    if (Level < Needed)
        return E_INVALIDARG;
    if (Module.m_Reflection.m_BadRegister)
        return E_INVALIDARG;
    if (Module.m_Reflection.m_OtherResources)
        return E_NOTIMPL; // only constant buffers are bound on this platform
    const HRESULT Removed = Dxgi::HresultFromVk(State->Vulkan()->RemovedReason());
    if (FAILED(Removed))
        return Removed;
    ShaderCode::MoveConstantBuffers(Module.m_Spirv, Stage == ShaderCode::Stage::Vertex ? VertexStageBindingBase
                                                                                       : PixelStageBindingBase);
    Program.m_Id = State->NextId();
    Program.m_Reflection = std::move(Module.m_Reflection);
    return Dxgi::HresultFromVk(
        Vulkan::ShaderModule::Create(State->Vulkan(), Module.m_Spirv.data(), Module.m_Spirv.size(), Program.m_Module));
}

HRESULT InputLayout::Create(const std::shared_ptr<DeviceState>& State, const D3D11_INPUT_ELEMENT_DESC* Descs,
                            UINT Count, const void* Code, SIZE_T Length, ID3D11InputLayout** Result)
{
    if (Result)
        *Result = nullptr;
    if ((Count > 0 && !Descs) || Count > D3D11_IA_VERTEX_INPUT_RESOURCE_SLOT_COUNT)
        return E_INVALIDARG;
    ShaderCode::Module Module;
    if (FAILED(ShaderCode::Parse(Code, Length, Module)) || Module.m_Stage != ShaderCode::Stage::Vertex)
        return E_INVALIDARG;

    std::vector<Element> Elements;
    UINT NextOffset[D3D11_IA_VERTEX_INPUT_RESOURCE_SLOT_COUNT] = {};
    for (UINT Index = 0; Index < Count; ++Index)
    {
        const D3D11_INPUT_ELEMENT_DESC& Desc = Descs[Index];
        const FormatInfo* Format = FindFormat(Desc.Format);
        if (!Desc.SemanticName || !Format || Format->m_Planes != 1 || Format->m_EvenSize ||
            Desc.InputSlot >= D3D11_IA_VERTEX_INPUT_RESOURCE_SLOT_COUNT ||
            Desc.InputSlotClass > D3D11_INPUT_PER_INSTANCE_DATA)
            return E_INVALIDARG;
        if (!State->Vulkan()->SupportsBufferFormat(Format->m_Vulkan, VK_FORMAT_FEATURE_VERTEX_BUFFER_BIT))
            return E_INVALIDARG;
        Element Item;
        Item.m_Semantic = UpperCase(Desc.SemanticName);
        Item.m_SemanticIndex = Desc.SemanticIndex;
        Item.m_Format = Format->m_Vulkan;
        Item.m_Slot = Desc.InputSlot;
        Item.m_Offset = Desc.AlignedByteOffset == D3D11_APPEND_ALIGNED_ELEMENT ? NextOffset[Desc.InputSlot]
                                                                               : Desc.AlignedByteOffset;
        Item.m_PerInstance = Desc.InputSlotClass == D3D11_INPUT_PER_INSTANCE_DATA;
        Item.m_StepRate = Desc.InstanceDataStepRate;
        NextOffset[Desc.InputSlot] = Item.m_Offset + Format->m_TexelBytes;
        for (const Element& Earlier : Elements)
            if (Earlier.m_Semantic == Item.m_Semantic && Earlier.m_SemanticIndex == Item.m_SemanticIndex)
                return E_INVALIDARG;
        // Formats whose kind differs from the input's (integer against float)
        // do not link.
        for (const ShaderCode::Input& Input : Module.m_Reflection.m_Inputs)
            if (Input.m_Semantic == Item.m_Semantic && Input.m_SemanticIndex == Item.m_SemanticIndex &&
                Input.m_Type != ComponentTypeOf(Desc.Format))
                return E_INVALIDARG;
        Elements.push_back(std::move(Item));
    }
    Microsoft::WRL::ComPtr<InputLayout> Created = Microsoft::WRL::Make<InputLayout>(State, std::move(Elements));
    if (!Created)
        return E_OUTOFMEMORY;
    // Every input that the shader reads needs an element; elements that it
    // does not read are fine.
    for (const ShaderCode::Input& Input : Module.m_Reflection.m_Inputs)
        if (!Created->Find(Input))
            return E_INVALIDARG;
    return HandOut(Created, Result);
}

const InputLayout::Element* InputLayout::Find(const ShaderCode::Input& Input) const
{
    for (const Element& Item : m_Elements)
        if (Item.m_Semantic == Input.m_Semantic && Item.m_SemanticIndex == Input.m_SemanticIndex)
            return &Item;
    return nullptr;
}

} // namespace Platform::D3D11

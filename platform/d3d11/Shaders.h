// Vertex and pixel shaders, and the input layout that feeds a vertex shader.
#pragma once

#include <string>
#include <vector>

#include "D3DCompiler/ShaderCode.h"
#include "Vulkan/ShaderModule.h"
#include "DeviceChild.h"

namespace Platform::D3D11 {

// What both shader stages keep of their code.
struct ShaderProgram
{
    uint64_t m_Id = 0;
    ShaderCode::Reflection m_Reflection;
    std::shared_ptr<Vulkan::ShaderModule> m_Module;
};

// Checks the code for Stage against the device and makes its module, its
// constant buffers moved to the stage's bindings.
HRESULT CreateProgram(const std::shared_ptr<DeviceState>& State, const void* Code, SIZE_T Length,
                      ShaderCode::Stage Stage, ShaderProgram& Program);

// A shader of one stage, made from code for that stage.
template <typename Interface, ShaderCode::Stage ShaderStage>
class Shader : public DeviceChild<Microsoft::WRL::ChainInterfaces<Interface, ID3D11DeviceChild>>
{
public:
    using Base = DeviceChild<Microsoft::WRL::ChainInterfaces<Interface, ID3D11DeviceChild>>;

    Shader(std::shared_ptr<DeviceState> State, ShaderProgram Program)
        : Base(std::move(State)), m_Program(std::move(Program))
    {}

    static HRESULT Create(const std::shared_ptr<DeviceState>& State, const void* Code, SIZE_T Length,
                          Interface** Result)
    {
        if (Result)
            *Result = nullptr;
        ShaderProgram Program;
        const HRESULT Status = CreateProgram(State, Code, Length, ShaderStage, Program);
        if (FAILED(Status))
            return Status;
        if (!Result)
            return S_FALSE;
        Microsoft::WRL::ComPtr<Shader> Created = Microsoft::WRL::Make<Shader>(State, std::move(Program));
        if (!Created)
            return E_OUTOFMEMORY;
        return HandOut(Created, Result);
    }

    ShaderProgram m_Program;
};

using VertexShader = Shader<ID3D11VertexShader, ShaderCode::Stage::Vertex>;
using PixelShader = Shader<ID3D11PixelShader, ShaderCode::Stage::Pixel>;

class InputLayout : public DeviceChild<Microsoft::WRL::ChainInterfaces<ID3D11InputLayout, ID3D11DeviceChild>>
{
public:
    struct Element
    {
        std::string m_Semantic; // upper case
        UINT m_SemanticIndex;
        VkFormat m_Format;
        UINT m_Slot;
        UINT m_Offset; // resolved: no D3D11_APPEND_ALIGNED_ELEMENT
        bool m_PerInstance;
        UINT m_StepRate;
    };

    InputLayout(std::shared_ptr<DeviceState> State, std::vector<Element> Elements)
        : DeviceChild(std::move(State)), m_Id(m_State->NextId()), m_Elements(std::move(Elements))
    {}

    static HRESULT Create(const std::shared_ptr<DeviceState>& State, const D3D11_INPUT_ELEMENT_DESC* Descs, UINT Count,
                          const void* Code, SIZE_T Length, ID3D11InputLayout** Result);

    // The element that feeds an input, or null.
    const Element* Find(const ShaderCode::Input& Input) const;

    uint64_t m_Id;
    std::vector<Element> m_Elements;
};

} // namespace Platform::D3D11

// The compiled shader code that D3DCompile produces and the device consumes:
// SPIR-V plus what the device needs to know without a SPIR-V compiler of its
// own (stage, shader model, entry point, input semantics, constant buffers),
// and the few SPIR-V edits the device makes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <winerror.h>

namespace Platform::ShaderCode {

enum class Stage : uint32_t
{
    Vertex = 0,
    Pixel = 1,
};

enum class ComponentType : uint32_t
{
    Float = 0,
    SignedInt = 1,
    UnsignedInt = 2,
};

// One input of the entry point (the vertex shader's input signature).
struct Input
{
    std::string m_Semantic; // upper case, without its index
    uint32_t m_SemanticIndex = 0;
    uint32_t m_Location = 0;
    ComponentType m_Type = ComponentType::Float;
    uint32_t m_Components = 4;
};

struct Reflection
{
    std::string m_EntryPoint; // empty when the code has none
    std::vector<Input> m_Inputs;
    uint32_t m_ConstantBuffers = 0; // one bit per register b0..b13 in use
    bool m_OtherResources = false;  // textures, samplers, UAVs, register spaces
    bool m_BadRegister = false;     // a constant buffer beyond b13
};

struct Module
{
    Stage m_Stage = Stage::Vertex;
    uint32_t m_ShaderModel = 40; // major * 10 + minor; 9.x levels count as 30
    Reflection m_Reflection;
    std::vector<uint32_t> m_Spirv;
};

std::vector<uint8_t> Serialize(const Module& Module);
// E_INVALIDARG when Code is not such a module.
HRESULT Parse(const void* Code, size_t Size, Module& Module);

// Reads the entry point, its inputs and its resources from SPIR-V.
HRESULT Reflect(const std::vector<uint32_t>& Spirv, Reflection& Reflection);
// Removes the HLSL semantic and type decorations (and their extensions), which
// only carry what Reflect has read already, so that no device needs them.
void StripHlslDecorations(std::vector<uint32_t>& Spirv);
// Puts every constant buffer into descriptor set 0 at BindingBase + register.
void MoveConstantBuffers(std::vector<uint32_t>& Spirv, uint32_t BindingBase);

} // namespace Platform::ShaderCode

// D3DCompile on glslang's HLSL front end: HLSL to SPIR-V, wrapped with what
// the device needs (see ShaderCode.h).

#include <cctype>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include <glslang/Public/ResourceLimits.h>
#include <glslang/Public/ShaderLang.h>
#include <glslang/MachineIndependent/localintermediate.h>
#include <glslang/SPIRV/GlslangToSpv.h>

#include "Blob.h"
#include "D3DCompiler/ShaderCode.h"
#include <d3dcompiler.h>

namespace Platform {

HRESULT CreateBlob(std::vector<uint8_t> Bytes, ID3DBlob** Result)
{
    Microsoft::WRL::ComPtr<Blob> Created = Microsoft::WRL::Make<Blob>(std::move(Bytes));
    if (!Created)
        return E_OUTOFMEMORY;
    *Result = Created.Detach();
    return S_OK;
}

} // namespace Platform

namespace {

using Platform::ShaderCode::Stage;

struct Profile
{
    Stage m_Stage;
    EShLanguage m_Language;
    uint32_t m_ShaderModel;
};

// "vs_4_0", "ps_5_0", "vs_4_0_level_9_3", ...
bool ParseProfile(const char* Target, Profile& Result)
{
    const std::string Text(Target);
    if (Text.size() < 6 || Text[2] != '_' || Text[4] != '_' || !std::isdigit(static_cast<unsigned char>(Text[3])) ||
        !std::isdigit(static_cast<unsigned char>(Text[5])))
        return false;
    const std::string Kind = Text.substr(0, 2);
    if (Kind == "vs")
        Result = {Stage::Vertex, EShLangVertex, 0};
    else if (Kind == "ps")
        Result = {Stage::Pixel, EShLangFragment, 0};
    else
        return false;
    const uint32_t Major = static_cast<uint32_t>(Text[3] - '0'), Minor = static_cast<uint32_t>(Text[5] - '0');
    const std::string Rest = Text.substr(6);
    if (Rest.empty() && (Major == 4 || Major == 5) && Minor <= 1)
        Result.m_ShaderModel = Major * 10 + Minor;
    else if (Major == 4 && Minor == 0 && Rest.size() == 10 && Rest.rfind("_level_9_", 0) == 0)
        Result.m_ShaderModel = 30;
    else
        return false;
    return true;
}

void InitializeCompiler()
{
    static std::once_flag Once;
    std::call_once(Once, [] { glslang::InitializeProcess(); });
}

// What the compiler honours (column-major packing is how it lays matrices
// out anyway; strictness and warnings as errors it keeps) or may ignore
// without changing the code's meaning (hints, debug information).
constexpr UINT AcceptedFlags = D3DCOMPILE_DEBUG | D3DCOMPILE_SKIP_VALIDATION | D3DCOMPILE_SKIP_OPTIMIZATION |
                               D3DCOMPILE_PACK_MATRIX_COLUMN_MAJOR | D3DCOMPILE_PARTIAL_PRECISION |
                               D3DCOMPILE_NO_PRESHADER | D3DCOMPILE_AVOID_FLOW_CONTROL |
                               D3DCOMPILE_PREFER_FLOW_CONTROL | D3DCOMPILE_ENABLE_STRICTNESS |
                               D3DCOMPILE_OPTIMIZATION_LEVEL2 | D3DCOMPILE_WARNINGS_ARE_ERRORS |
                               D3DCOMPILE_RESOURCES_MAY_ALIAS | D3DCOMPILE_ALL_RESOURCES_BOUND |
                               D3DCOMPILE_DEBUG_NAME_FOR_SOURCE | D3DCOMPILE_DEBUG_NAME_FOR_BINARY;

HRESULT MessageBlob(const std::string& Messages, ID3DBlob** ErrorMsgs)
{
    if (!ErrorMsgs || Messages.empty())
        return S_OK;
    std::vector<uint8_t> Bytes(Messages.begin(), Messages.end());
    Bytes.push_back(0);
    return Platform::CreateBlob(std::move(Bytes), ErrorMsgs);
}

} // namespace

HRESULT D3DCreateBlob(SIZE_T Size, ID3DBlob** Blob)
{
    if (!Blob)
        return E_INVALIDARG;
    *Blob = nullptr;
    try
    {
        return Platform::CreateBlob(std::vector<uint8_t>(Size), Blob);
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
}

HRESULT D3DCompile(LPCVOID SrcData, SIZE_T SrcDataSize, LPCSTR SourceName, const D3D_SHADER_MACRO* Defines,
                   ID3DInclude* Include, LPCSTR Entrypoint, LPCSTR Target, UINT Flags1, UINT, ID3DBlob** Code,
                   ID3DBlob** ErrorMsgs)
{
    (void)Include; // #include needs a handler that this compiler does not take
    if (Code)
        *Code = nullptr;
    if (ErrorMsgs)
        *ErrorMsgs = nullptr;
    if (!SrcData || !Entrypoint || !Target || !Code)
        return E_INVALIDARG;
    try
    {
        if (Flags1 & ~AcceptedFlags)
        {
            char Text[96];
            std::snprintf(Text, sizeof Text, "error: compile flags 0x%X are not supported\n", Flags1 & ~AcceptedFlags);
            MessageBlob(Text, ErrorMsgs);
            return E_INVALIDARG;
        }
        Profile TargetProfile = {Stage::Vertex, EShLangVertex, 0};
        if (!ParseProfile(Target, TargetProfile))
        {
            MessageBlob(std::string("error: unrecognized target profile '") + Target + "'\n", ErrorMsgs);
            return E_FAIL;
        }
        InitializeCompiler();

        std::string Preamble;
        for (const D3D_SHADER_MACRO* Macro = Defines; Macro && Macro->Name; ++Macro)
            Preamble.append("#define ").append(Macro->Name).append(" ").append(Macro->Definition ? Macro->Definition : "1").append("\n");

        const char* Source = static_cast<const char*>(SrcData);
        const int SourceLength = static_cast<int>(SrcDataSize);
        const char* Name = SourceName ? SourceName : "";
        glslang::TShader Shader(TargetProfile.m_Language);
        Shader.setStringsWithLengthsAndNames(&Source, &SourceLength, &Name, 1);
        Shader.setPreamble(Preamble.c_str());
        Shader.setEntryPoint(Entrypoint);
        Shader.setSourceEntryPoint(Entrypoint);
        Shader.setEnvInput(glslang::EShSourceHlsl, TargetProfile.m_Language, glslang::EShClientVulkan, 100);
        Shader.setEnvClient(glslang::EShClientVulkan, glslang::EShTargetVulkan_1_1);
        Shader.setEnvTarget(glslang::EShTargetSpv, glslang::EShTargetSpv_1_3);
        Shader.setEnvTargetHlslFunctionality1();
        Shader.setHlslIoMapping(true);
        Shader.setAutoMapBindings(true);
        Shader.setAutoMapLocations(true);
        const EShMessages Messages = static_cast<EShMessages>(
            EShMsgSpvRules | EShMsgVulkanRules | EShMsgReadHlsl | EShMsgHlslOffsets | EShMsgHlslLegalization);

        std::string Log;
        const bool Parsed = Shader.parse(GetDefaultResources(), 100, false, Messages);
        Log += Shader.getInfoLog();
        glslang::TProgram Program;
        bool Linked = false;
        if (Parsed)
        {
            Program.addShader(&Shader);
            Linked = Program.link(Messages);
            Log += Program.getInfoLog();
        }

        Platform::ShaderCode::Module Module;
        Module.m_Stage = TargetProfile.m_Stage;
        Module.m_ShaderModel = TargetProfile.m_ShaderModel;
        bool Failed = !Parsed || !Linked;
        // glslang only warns about a missing entry point and makes an empty
        // one; for the compiler that it stands in for, that is an error.
        if (!Failed && Program.getIntermediate(TargetProfile.m_Language)->getNumEntryPoints() == 0)
        {
            Log += std::string("ERROR: ") + Name + ": entry point '" + Entrypoint + "' not found\n";
            Failed = true;
        }
        if (!Failed)
        {
            glslang::SpvOptions Options;
            Options.disableOptimizer = false; // legalises HLSL and drops what is unused
            Options.validate = false;
            spv::SpvBuildLogger Logger;
            glslang::GlslangToSpv(*Program.getIntermediate(TargetProfile.m_Language), Module.m_Spirv, &Logger,
                                  &Options);
            Log += Logger.getAllMessages();
            if (FAILED(Platform::ShaderCode::Reflect(Module.m_Spirv, Module.m_Reflection)) ||
                Module.m_Reflection.m_EntryPoint.empty())
            {
                Log += std::string("ERROR: ") + Name + ": entry point '" + Entrypoint + "' not found\n";
                Failed = true;
            }
        }
        // Warnings count as errors when asked; glslang starts them with "WARNING:".
        if (!Failed && (Flags1 & D3DCOMPILE_WARNINGS_ARE_ERRORS) && Log.find("WARNING:") != std::string::npos)
            Failed = true;
        while (!Log.empty() && (Log.back() == '\n' || Log.back() == ' '))
            Log.pop_back();
        if (!Log.empty())
            Log += '\n';
        const HRESULT MessageResult = MessageBlob(Log, ErrorMsgs);
        if (FAILED(MessageResult))
            return MessageResult;
        if (Failed)
            return E_FAIL;
        Platform::ShaderCode::StripHlslDecorations(Module.m_Spirv);
        return Platform::CreateBlob(Platform::ShaderCode::Serialize(Module), Code);
    }
    catch (const std::bad_alloc&)
    {
        if (ErrorMsgs && *ErrorMsgs)
        {
            (*ErrorMsgs)->Release();
            *ErrorMsgs = nullptr;
        }
        return E_OUTOFMEMORY;
    }
}

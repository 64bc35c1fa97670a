// D3DCompile on glslang's HLSL front end: HLSL to SPIR-V, wrapped with what
// the device needs (see ShaderCode.h).

#include <cctype>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <string_view>

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

// The version that glslang's HLSL front end takes for all of HLSL.
constexpr int HlslVersion = 100;
// Feature levels 9.x compile as shader model 3.0.
constexpr uint32_t Level9ShaderModel = 30;
// "vs_4_0": the stage, '_', the major version, '_', the minor version.
constexpr size_t ProfileLength = 6;
// "_level_9_1" to "_level_9_3" after "vs_4_0".
constexpr std::string_view Level9Suffix = "_level_9_";
constexpr size_t Level9SuffixLength = 10;

// "vs_4_0", "ps_5_0", "vs_4_0_level_9_3", ...
bool ParseProfile(const char* Target, Profile& Result)
{
    const std::string Text(Target);
    if (Text.size() < ProfileLength || Text[2] != '_' || Text[4] != '_' ||
        !std::isdigit(static_cast<unsigned char>(Text[3])) || !std::isdigit(static_cast<unsigned char>(Text[5])))
        return false;
    const std::string Kind = Text.substr(0, 2);
    if (Kind == "vs")
        Result = {Stage::Vertex, EShLangVertex, 0};
    else if (Kind == "ps")
        Result = {Stage::Pixel, EShLangFragment, 0};
    else
        return false;
    const uint32_t Major = static_cast<uint32_t>(Text[3] - '0'), Minor = static_cast<uint32_t>(Text[5] - '0');
    const std::string Rest = Text.substr(ProfileLength);
    if (Rest.empty() && (Major == 4 || Major == 5) && Minor <= 1)
        Result.m_ShaderModel = Major * 10 + Minor;
    else if (Major == 4 && Minor == 0 && Rest.size() == Level9SuffixLength && Rest.rfind(Level9Suffix, 0) == 0)
        Result.m_ShaderModel = Level9ShaderModel;
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
constexpr UINT AcceptedFlags =
    D3DCOMPILE_DEBUG | D3DCOMPILE_SKIP_VALIDATION | D3DCOMPILE_SKIP_OPTIMIZATION | D3DCOMPILE_PACK_MATRIX_COLUMN_MAJOR |
    D3DCOMPILE_PARTIAL_PRECISION | D3DCOMPILE_NO_PRESHADER | D3DCOMPILE_AVOID_FLOW_CONTROL |
    D3DCOMPILE_PREFER_FLOW_CONTROL | D3DCOMPILE_ENABLE_STRICTNESS | D3DCOMPILE_OPTIMIZATION_LEVEL2 |
    D3DCOMPILE_WARNINGS_ARE_ERRORS | D3DCOMPILE_RESOURCES_MAY_ALIAS | D3DCOMPILE_ALL_RESOURCES_BOUND |
    D3DCOMPILE_DEBUG_NAME_FOR_SOURCE | D3DCOMPILE_DEBUG_NAME_FOR_BINARY;

std::string Hexadecimal(UINT Value)
{
    char Text[sizeof Value * 2 + 1];
    std::snprintf(Text, sizeof Text, "%X", Value);
    return Text;
}

HRESULT MessageBlob(const std::string& Messages, ID3DBlob** ErrorMsgs)
{
    if (!ErrorMsgs || Messages.empty())
        return S_OK;
    std::vector<uint8_t> Bytes(Messages.begin(), Messages.end());
    Bytes.push_back(0);
    return Platform::CreateBlob(std::move(Bytes), ErrorMsgs);
}

// One compilation as D3DCompile is asked for it.
struct Request
{
    const char* m_Source;
    int m_Length;
    const char* m_Name;
    std::string m_Preamble; // the macros as #define lines
    const char* m_EntryPoint;
    Profile m_Profile;
};

std::string Preamble(const D3D_SHADER_MACRO* Defines)
{
    std::string Text;
    for (const D3D_SHADER_MACRO* Macro = Defines; Macro && Macro->Name; ++Macro)
        Text.append("#define ")
            .append(Macro->Name)
            .append(" ")
            .append(Macro->Definition ? Macro->Definition : "1")
            .append("\n");
    return Text;
}

// HLSL for Vulkan 1.1 with the semantics kept as decorations, registers
// mapped to bindings, the rest of the layout left to glslang.
void Configure(glslang::TShader& Shader, const Request& Request)
{
    const EShLanguage Language = Request.m_Profile.m_Language;
    Shader.setStringsWithLengthsAndNames(&Request.m_Source, &Request.m_Length, &Request.m_Name, 1);
    Shader.setPreamble(Request.m_Preamble.c_str());
    Shader.setEntryPoint(Request.m_EntryPoint);
    Shader.setSourceEntryPoint(Request.m_EntryPoint);
    Shader.setEnvInput(glslang::EShSourceHlsl, Language, glslang::EShClientVulkan, HlslVersion);
    Shader.setEnvClient(glslang::EShClientVulkan, glslang::EShTargetVulkan_1_1);
    Shader.setEnvTarget(glslang::EShTargetSpv, glslang::EShTargetSpv_1_3);
    Shader.setEnvTargetHlslFunctionality1();
    Shader.setHlslIoMapping(true);
    Shader.setAutoMapBindings(true);
    Shader.setAutoMapLocations(true);
}

// Compiles Request into Module's SPIR-V and reflection; false on failure,
// with glslang's messages (warnings too) in Log.
bool CompileToSpirv(const Request& Request, Platform::ShaderCode::Module& Module, std::string& Log)
{
    const EShLanguage Language = Request.m_Profile.m_Language;
    const EShMessages Messages = static_cast<EShMessages>(EShMsgSpvRules | EShMsgVulkanRules | EShMsgReadHlsl |
                                                          EShMsgHlslOffsets | EShMsgHlslLegalization);
    glslang::TShader Shader(Language);
    Configure(Shader, Request);
    const bool Parsed = Shader.parse(GetDefaultResources(), HlslVersion, false, Messages);
    Log += Shader.getInfoLog();
    glslang::TProgram Program;
    if (!Parsed)
        return false;
    Program.addShader(&Shader);
    const bool Linked = Program.link(Messages);
    Log += Program.getInfoLog();
    if (!Linked)
        return false;
    // glslang only warns about a missing entry point and makes an empty one;
    // for the compiler that it stands in for, that is an error.
    const std::string Missing =
        std::string("ERROR: ") + Request.m_Name + ": entry point '" + Request.m_EntryPoint + "' not found\n";
    if (Program.getIntermediate(Language)->getNumEntryPoints() == 0)
    {
        Log += Missing;
        return false;
    }
    glslang::SpvOptions Options;
    Options.disableOptimizer = false; // legalises HLSL and drops what is unused
    Options.validate = false;
    spv::SpvBuildLogger Logger;
    glslang::GlslangToSpv(*Program.getIntermediate(Language), Module.m_Spirv, &Logger, &Options);
    Log += Logger.getAllMessages();
    if (FAILED(Platform::ShaderCode::Reflect(Module.m_Spirv, Module.m_Reflection)) ||
        Module.m_Reflection.m_EntryPoint.empty())
    {
        Log += Missing;
        return false;
    }
    return true;
}

// The log as the message blob holds it: one line end at its end.
std::string Trimmed(std::string Log)
{
    while (!Log.empty() && (Log.back() == '\n' || Log.back() == ' '))
        Log.pop_back();
    if (!Log.empty())
        Log += '\n';
    return Log;
}

} // namespace

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
            MessageBlob("error: compile flags 0x" + Hexadecimal(Flags1 & ~AcceptedFlags) + " are not supported\n",
                        ErrorMsgs);
            return E_INVALIDARG;
        }
        Request Request = {static_cast<const char*>(SrcData),
                           static_cast<int>(SrcDataSize),
                           SourceName ? SourceName : "",
                           Preamble(Defines),
                           Entrypoint,
                           {}};
        if (!ParseProfile(Target, Request.m_Profile))
        {
            MessageBlob(std::string("error: unrecognized target profile '") + Target + "'\n", ErrorMsgs);
            return E_FAIL;
        }
        InitializeCompiler();

        Platform::ShaderCode::Module Module;
        Module.m_Stage = Request.m_Profile.m_Stage;
        Module.m_ShaderModel = Request.m_Profile.m_ShaderModel;
        std::string Log;
        bool Failed = !CompileToSpirv(Request, Module, Log);
        // Warnings count as errors when asked; glslang starts them with "WARNING:".
        if (!Failed && (Flags1 & D3DCOMPILE_WARNINGS_ARE_ERRORS) && Log.find("WARNING:") != std::string::npos)
            Failed = true;
        const HRESULT MessageResult = MessageBlob(Trimmed(std::move(Log)), ErrorMsgs);
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

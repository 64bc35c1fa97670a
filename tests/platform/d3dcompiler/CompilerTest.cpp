// D3DCompile: HLSL to the code that the device takes.

#include <array>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <d3d10.h>
#include <d3d11.h>
#include <dxgi1_3.h>

#include "support/Drawing.h"
#include "support/Graphics.h"

using namespace Graphics;

TEST(D3DCompile, ReportsErrorsAndWarningsInTheMessages)
{
    const Graphics::Compiled Missing = Graphics::Compile(Source, "Missing", "ps_4_0");
    EXPECT_EQ(Missing.m_Result, E_FAIL);
    EXPECT_FALSE(Missing.m_Code);
    EXPECT_NE(Missing.m_Messages.find("Missing"), std::string::npos) << Missing.m_Messages;

    const Graphics::Compiled Broken =
        Graphics::Compile("float4 PS() : SV_Target { return Undeclared; }", "PS", "ps_4_0");
    EXPECT_EQ(Broken.m_Result, E_FAIL);
    EXPECT_NE(Broken.m_Messages.find("Undeclared"), std::string::npos) << Broken.m_Messages;

    const std::string Warned = "[unknownattribute] float4 PS() : SV_Target { return 1; }";
    const Graphics::Compiled Warning = Graphics::Compile(Warned, "PS", "ps_4_0");
    EXPECT_EQ(Warning.m_Result, S_OK);
    EXPECT_TRUE(Warning.m_Code);
    EXPECT_NE(Warning.m_Messages.find("WARNING"), std::string::npos) << Warning.m_Messages;
    EXPECT_EQ(Graphics::Compile(Warned, "PS", "ps_4_0", D3DCOMPILE_WARNINGS_ARE_ERRORS).m_Result, E_FAIL);

    EXPECT_EQ(Graphics::Compile(Source, "PS", "xs_4_0").m_Result, E_FAIL);
    const Graphics::Compiled Clean = Graphics::Compile(Source, "PS", "ps_4_0");
    EXPECT_EQ(Clean.m_Result, S_OK);
    EXPECT_TRUE(Clean.m_Messages.empty()) << Clean.m_Messages;
}

TEST(D3DCompile, CodeMatchesItsStageAndTheInputLayout)
{
    ID3D11Device* Device = Graphics::Shared().m_Device.Get();
    const Graphics::Compiled Vs = Graphics::Compile(Source, "VS", "vs_4_0");
    const Graphics::Compiled Ps = Graphics::Compile(Source, "PS", "ps_4_0");
    ASSERT_EQ(Vs.m_Result, S_OK);
    ComPtr<ID3D11PixelShader> Pixel;
    EXPECT_EQ(Device->CreatePixelShader(Vs.m_Code->GetBufferPointer(), Vs.m_Code->GetBufferSize(), nullptr,
                                        Pixel.ReleaseAndGetAddressOf()),
              E_INVALIDARG);
    const uint8_t Garbage[16] = {};
    EXPECT_EQ(Device->CreatePixelShader(Garbage, sizeof(Garbage), nullptr, Pixel.ReleaseAndGetAddressOf()),
              E_INVALIDARG);

    ComPtr<ID3D11InputLayout> InputLayout;
    const void* Code = Vs.m_Code->GetBufferPointer();
    const SIZE_T Size = Vs.m_Code->GetBufferSize();
    EXPECT_EQ(Device->CreateInputLayout(Layout, 2, Code, Size, InputLayout.ReleaseAndGetAddressOf()), S_OK);
    // An extra element that the shader does not read is fine.
    const D3D11_INPUT_ELEMENT_DESC Extra[] = {
        Layout[0], Layout[1], {"TEXCOORD", 0, DXGI_FORMAT_R32G32_FLOAT, 0, 0, D3D11_INPUT_PER_VERTEX_DATA, 0}};
    EXPECT_EQ(Device->CreateInputLayout(Extra, 3, Code, Size, InputLayout.ReleaseAndGetAddressOf()), S_OK);
    // A semantic the shader reads but the layout lacks, or names otherwise.
    EXPECT_EQ(Device->CreateInputLayout(Layout, 1, Code, Size, InputLayout.ReleaseAndGetAddressOf()), E_INVALIDARG);
    D3D11_INPUT_ELEMENT_DESC Renamed[] = {Layout[0], Layout[1]};
    Renamed[1].SemanticName = "COLOUR";
    EXPECT_EQ(Device->CreateInputLayout(Renamed, 2, Code, Size, InputLayout.ReleaseAndGetAddressOf()), E_INVALIDARG);
    D3D11_INPUT_ELEMENT_DESC Indexed[] = {Layout[0], Layout[1]};
    Indexed[1].SemanticIndex = 1;
    EXPECT_EQ(Device->CreateInputLayout(Indexed, 2, Code, Size, InputLayout.ReleaseAndGetAddressOf()), E_INVALIDARG);
    D3D11_INPUT_ELEMENT_DESC Integer[] = {Layout[0], Layout[1]};
    Integer[1].Format = DXGI_FORMAT_R32G32B32A32_UINT;
    EXPECT_EQ(Device->CreateInputLayout(Integer, 2, Code, Size, InputLayout.ReleaseAndGetAddressOf()), E_INVALIDARG);
    // The semantic's letter case does not matter.
    D3D11_INPUT_ELEMENT_DESC Lower[] = {Layout[0], Layout[1]};
    Lower[1].SemanticName = "color";
    EXPECT_EQ(Device->CreateInputLayout(Lower, 2, Code, Size, InputLayout.ReleaseAndGetAddressOf()), S_OK);

    // Textures are not bound on this platform.
    const Graphics::Compiled Sampling = Graphics::Compile(
        "Texture2D T; SamplerState S; float4 PS(float4 P : SV_Position) : SV_Target { return T.Sample(S, P.xy); }",
        "PS", "ps_4_0");
    ASSERT_EQ(Sampling.m_Result, S_OK) << Sampling.m_Messages;
    EXPECT_EQ(Device->CreatePixelShader(Sampling.m_Code->GetBufferPointer(), Sampling.m_Code->GetBufferSize(), nullptr,
                                        Pixel.ReleaseAndGetAddressOf()),
              E_NOTIMPL);
}

TEST(D3DCompile, TruncatedOrForeignCodeIsRefused)
{
    const Graphics::Compiled Vs = Graphics::Compile(Source, "VS", "vs_4_0");
    ASSERT_EQ(Vs.m_Result, S_OK);
    const uint8_t* Code = static_cast<const uint8_t*>(Vs.m_Code->GetBufferPointer());
    const size_t Size = Vs.m_Code->GetBufferSize();
    ID3D11Device* Device = Graphics::Shared().m_Device.Get();
    // Every shorter prefix is malformed; none may be read past its end.
    for (size_t Length = 0; Length < Size; Length += 4)
    {
        std::vector<uint8_t> Prefix(Code, Code + Length);
        ComPtr<ID3D11VertexShader> Shader;
        ASSERT_EQ(Device->CreateVertexShader(Prefix.data(), Prefix.size(), nullptr, Shader.GetAddressOf()),
                  E_INVALIDARG)
            << Length;
    }
    std::vector<uint8_t> Foreign(Code, Code + Size);
    Foreign[0] ^= 0xFF;
    ComPtr<ID3D11VertexShader> Shader;
    EXPECT_EQ(Device->CreateVertexShader(Foreign.data(), Foreign.size(), nullptr, Shader.GetAddressOf()), E_INVALIDARG);
    EXPECT_EQ(Device->CreateVertexShader(Code, Size, nullptr, Shader.GetAddressOf()), S_OK);
}

TEST(D3DCompile, FlagsThatWouldChangeTheCodeAreRefused)
{
    // Row-major packing would lay the constant buffers out otherwise: the
    // compiler cannot, so it says so rather than compile something else.
    const Graphics::Compiled RowMajor = Graphics::Compile(Source, "VS", "vs_4_0", D3DCOMPILE_PACK_MATRIX_ROW_MAJOR);
    EXPECT_EQ(RowMajor.m_Result, E_INVALIDARG);
    EXPECT_FALSE(RowMajor.m_Code);
    EXPECT_NE(RowMajor.m_Messages.find("0x8"), std::string::npos) << RowMajor.m_Messages;
    for (UINT Flags :
         {D3DCOMPILE_PACK_MATRIX_ROW_MAJOR | D3DCOMPILE_PACK_MATRIX_COLUMN_MAJOR, D3DCOMPILE_IEEE_STRICTNESS,
          D3DCOMPILE_ENABLE_BACKWARDS_COMPATIBILITY, D3DCOMPILE_ENABLE_UNBOUNDED_DESCRIPTOR_TABLES,
          D3DCOMPILE_FORCE_PS_SOFTWARE_NO_OPT, 0x10000u, 0x80000000u})
        EXPECT_EQ(Graphics::Compile(Source, "PS", "ps_4_0", Flags).m_Result, E_INVALIDARG) << std::hex << Flags;
    // What the compiler honours or may ignore without changing the meaning.
    for (UINT Flags : {D3DCOMPILE_PACK_MATRIX_COLUMN_MAJOR, D3DCOMPILE_ENABLE_STRICTNESS,
                       D3DCOMPILE_DEBUG | D3DCOMPILE_SKIP_OPTIMIZATION, D3DCOMPILE_OPTIMIZATION_LEVEL3,
                       D3DCOMPILE_PREFER_FLOW_CONTROL | D3DCOMPILE_PARTIAL_PRECISION})
        EXPECT_EQ(Graphics::Compile(Source, "PS", "ps_4_0", Flags).m_Result, S_OK) << std::hex << Flags;
}

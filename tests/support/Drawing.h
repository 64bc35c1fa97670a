// Drawing for tests: a small pipeline that draws coloured triangles into a
// target of the shared device, and textures made on it.
#pragma once

#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include <d3d11.h>

#include "support/Graphics.h"

namespace Graphics {

inline const char* const Source = R"(
cbuffer Constants : register(b0) { float4 Tint; }
struct VS_In { float2 Position : POSITION; float4 Color : COLOR; };
struct VS_Out { float4 Position : SV_Position; float4 Color : COLOR; };
VS_Out VS(VS_In In) { VS_Out Out; Out.Position = float4(In.Position, 0, 1); Out.Color = In.Color; return Out; }
float4 PS(VS_Out In) : SV_Target { return In.Color * Tint; }
)";

struct Vertex
{
    float Position[2];
    float Color[4];
};

inline const D3D11_INPUT_ELEMENT_DESC Layout[] = {
    {"POSITION", 0, DXGI_FORMAT_R32G32_FLOAT, 0, 0, D3D11_INPUT_PER_VERTEX_DATA, 0},
    {"COLOR", 0, DXGI_FORMAT_R32G32B32A32_FLOAT, 0, D3D11_APPEND_ALIGNED_ELEMENT, D3D11_INPUT_PER_VERTEX_DATA, 0},
};

inline ComPtr<ID3D11Texture2D> Texture(UINT Width, UINT Height, DXGI_FORMAT Format, D3D11_USAGE Usage, UINT Bind,
                                       UINT Cpu = 0, const void* Data = nullptr, UINT Pitch = 0,
                                       HRESULT* Result = nullptr)
{
    D3D11_TEXTURE2D_DESC Desc = {Width, Height, 1, 1, Format, {1, 0}, Usage, Bind, Cpu, 0};
    D3D11_SUBRESOURCE_DATA Initial = {Data, Pitch, 0};
    ComPtr<ID3D11Texture2D> Created;
    const HRESULT Status =
        Graphics::Shared().m_Device->CreateTexture2D(&Desc, Data ? &Initial : nullptr, Created.GetAddressOf());
    if (Result)
        *Result = Status;
    else
        EXPECT_EQ(Status, S_OK);
    return Created;
}

// A pipeline that draws Triangles (D3D clip-space positions, colours) into
// a Width x Height target.
class Drawing
{
public:
    Drawing(UINT Width, UINT Height)
    {
        Graphics::Device& Shared = Graphics::Shared();
        m_Target = Texture(Width, Height, DXGI_FORMAT_B8G8R8A8_UNORM, D3D11_USAGE_DEFAULT, D3D11_BIND_RENDER_TARGET);
        EXPECT_EQ(Shared.m_Device->CreateRenderTargetView(m_Target.Get(), nullptr, m_View.GetAddressOf()), S_OK);
        const Graphics::Compiled Vs = Graphics::Compile(Source, "VS", "vs_4_0");
        const Graphics::Compiled Ps = Graphics::Compile(Source, "PS", "ps_4_0");
        EXPECT_EQ(Shared.m_Device->CreateVertexShader(Vs.m_Code->GetBufferPointer(), Vs.m_Code->GetBufferSize(),
                                                      nullptr, m_Vs.GetAddressOf()),
                  S_OK);
        EXPECT_EQ(Shared.m_Device->CreatePixelShader(Ps.m_Code->GetBufferPointer(), Ps.m_Code->GetBufferSize(), nullptr,
                                                     m_Ps.GetAddressOf()),
                  S_OK);
        EXPECT_EQ(Shared.m_Device->CreateInputLayout(Layout, 2, Vs.m_Code->GetBufferPointer(),
                                                     Vs.m_Code->GetBufferSize(), m_Layout.GetAddressOf()),
                  S_OK);
        D3D11_BUFFER_DESC Desc = {16, D3D11_USAGE_DEFAULT, D3D11_BIND_CONSTANT_BUFFER, 0, 0, 0};
        EXPECT_EQ(Shared.m_Device->CreateBuffer(&Desc, nullptr, m_Constants.GetAddressOf()), S_OK);
        m_Viewport = {0, 0, float(Width), float(Height), 0, 1};
    }

    void Draw(const std::vector<Vertex>& Triangles, const float Tint[4], bool BindConstants = true)
    {
        Graphics::Device& Shared = Graphics::Shared();
        D3D11_BUFFER_DESC Desc = {
            UINT(Triangles.size() * sizeof(Vertex)), D3D11_USAGE_IMMUTABLE, D3D11_BIND_VERTEX_BUFFER, 0, 0, 0};
        D3D11_SUBRESOURCE_DATA Data = {Triangles.data(), 0, 0};
        ComPtr<ID3D11Buffer> Vertices;
        ASSERT_EQ(Shared.m_Device->CreateBuffer(&Desc, &Data, Vertices.GetAddressOf()), S_OK);
        ID3D11DeviceContext* Context = Shared.m_Context.Get();
        Context->ClearState();
        const UINT Stride = sizeof(Vertex), Offset = 0;
        Context->IASetVertexBuffers(0, 1, Vertices.GetAddressOf(), &Stride, &Offset);
        Context->IASetInputLayout(m_Layout.Get());
        Context->IASetPrimitiveTopology(D3D11_PRIMITIVE_TOPOLOGY_TRIANGLELIST);
        Context->OMSetRenderTargets(1, m_View.GetAddressOf(), nullptr);
        Context->RSSetViewports(1, &m_Viewport);
        const float Clear[4] = {0, 0, 1, 1};
        Context->ClearRenderTargetView(m_View.Get(), Clear);
        Context->UpdateSubresource(m_Constants.Get(), 0, nullptr, Tint, 0, 0);
        if (BindConstants)
            Context->PSSetConstantBuffers(0, 1, m_Constants.GetAddressOf());
        Context->VSSetShader(m_Vs.Get(), nullptr, 0);
        Context->PSSetShader(m_Ps.Get(), nullptr, 0);
        Context->Draw(UINT(Triangles.size()), 0);
    }

    std::vector<uint8_t> Pixels()
    {
        return Graphics::ReadBack(Graphics::Shared().m_Device.Get(), Graphics::Shared().m_Context.Get(),
                                  m_Target.Get());
    }

    ComPtr<ID3D11Texture2D> m_Target;
    ComPtr<ID3D11RenderTargetView> m_View;
    ComPtr<ID3D11VertexShader> m_Vs;
    ComPtr<ID3D11PixelShader> m_Ps;
    ComPtr<ID3D11InputLayout> m_Layout;
    ComPtr<ID3D11Buffer> m_Constants;
    D3D11_VIEWPORT m_Viewport;
};

inline const float White[4] = {1, 1, 1, 1};

// Both triangles clockwise as seen: front faces.
inline std::vector<Vertex> Quad(float R, float G, float B)
{
    const Vertex BL = {{-1, -1}, {R, G, B, 1}}, TL = {{-1, 1}, {R, G, B, 1}}, TR = {{1, 1}, {R, G, B, 1}},
                 BR = {{1, -1}, {R, G, B, 1}};
    return {BL, TL, TR, BL, TR, BR};
}

} // namespace Graphics

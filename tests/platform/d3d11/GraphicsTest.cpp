// DXGI, Direct3D 11 and D3DCompile on this platform, drawn on the software
// adapter.

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

#include "support/Graphics.h"

#include "D3D11/Readback.h"
#include "Vulkan/Error.h"
#include "dxgi/AdapterDescription.h"

namespace {

using Graphics::ComPtr;

const char* const Source = R"(
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

const D3D11_INPUT_ELEMENT_DESC Layout[] = {
    {"POSITION", 0, DXGI_FORMAT_R32G32_FLOAT, 0, 0, D3D11_INPUT_PER_VERTEX_DATA, 0},
    {"COLOR", 0, DXGI_FORMAT_R32G32B32A32_FLOAT, 0, D3D11_APPEND_ALIGNED_ELEMENT, D3D11_INPUT_PER_VERTEX_DATA, 0},
};

ComPtr<ID3D11Texture2D> Texture(UINT Width, UINT Height, DXGI_FORMAT Format, D3D11_USAGE Usage, UINT Bind,
                                UINT Cpu = 0, const void* Data = nullptr, UINT Pitch = 0, HRESULT* Result = nullptr)
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
        EXPECT_EQ(Shared.m_Device->CreatePixelShader(Ps.m_Code->GetBufferPointer(), Ps.m_Code->GetBufferSize(),
                                                     nullptr, m_Ps.GetAddressOf()),
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
        D3D11_BUFFER_DESC Desc = {UINT(Triangles.size() * sizeof(Vertex)), D3D11_USAGE_IMMUTABLE,
                                  D3D11_BIND_VERTEX_BUFFER, 0, 0, 0};
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

const float White[4] = {1, 1, 1, 1};

// Both triangles clockwise as seen: front faces.
std::vector<Vertex> Quad(float R, float G, float B)
{
    const Vertex BL = {{-1, -1}, {R, G, B, 1}}, TL = {{-1, 1}, {R, G, B, 1}}, TR = {{1, 1}, {R, G, B, 1}},
                 BR = {{1, -1}, {R, G, B, 1}};
    return {BL, TL, TR, BL, TR, BR};
}

} // namespace

TEST(Dxgi, EnumeratesAdaptersSoftwareLastAndNotFoundPastTheEnd)
{
    ComPtr<IDXGIFactory1> Factory;
    ASSERT_EQ(CreateDXGIFactory2(0, IID_PPV_ARGS(&Factory)), S_OK);
    std::vector<DXGI_ADAPTER_DESC1> Descs;
    for (UINT Index = 0;; ++Index)
    {
        ComPtr<IDXGIAdapter1> Adapter;
        const HRESULT Result = Factory->EnumAdapters1(Index, Adapter.GetAddressOf());
        if (Result == DXGI_ERROR_NOT_FOUND)
        {
            EXPECT_FALSE(Adapter);
            break;
        }
        ASSERT_EQ(Result, S_OK);
        DXGI_ADAPTER_DESC1 Desc;
        ASSERT_EQ(Adapter->GetDesc1(&Desc), S_OK);
        DXGI_ADAPTER_DESC Plain;
        ASSERT_EQ(Adapter->GetDesc(&Plain), S_OK);
        EXPECT_EQ(std::wstring(Plain.Description), std::wstring(Desc.Description));
        EXPECT_EQ(Plain.AdapterLuid.LowPart, Desc.AdapterLuid.LowPart);
        Descs.push_back(Desc);
    }
    ASSERT_FALSE(Descs.empty()) << "this machine has at least lavapipe";
    // Software adapters come last.
    bool SeenSoftware = false;
    for (const DXGI_ADAPTER_DESC1& Desc : Descs)
    {
        if (Desc.Flags & DXGI_ADAPTER_FLAG_SOFTWARE)
            SeenSoftware = true;
        else
        {
            EXPECT_FALSE(SeenSoftware);
        }
    }
    EXPECT_TRUE(Descs.back().Flags & DXGI_ADAPTER_FLAG_SOFTWARE);

    // The IDXGIFactory view enumerates the same, and LUIDs stay the same.
    ComPtr<IDXGIFactory> Plain;
    ASSERT_EQ(CreateDXGIFactory2(0, IID_PPV_ARGS(&Plain)), S_OK);
    ComPtr<IDXGIAdapter> Adapter;
    EXPECT_EQ(Plain->EnumAdapters(UINT(Descs.size()), Adapter.GetAddressOf()), DXGI_ERROR_NOT_FOUND);
    ASSERT_EQ(Plain->EnumAdapters(0, Adapter.GetAddressOf()), S_OK);
    ComPtr<IDXGIAdapter1> Adapter1;
    ASSERT_EQ(Adapter.As(&Adapter1), S_OK);
    DXGI_ADAPTER_DESC1 Again;
    ASSERT_EQ(Adapter1->GetDesc1(&Again), S_OK);
    EXPECT_EQ(Again.AdapterLuid.LowPart, Descs[0].AdapterLuid.LowPart);
    EXPECT_EQ(Again.AdapterLuid.HighPart, Descs[0].AdapterLuid.HighPart);

    EXPECT_EQ(CreateDXGIFactory2(0x10, IID_PPV_ARGS(&Plain)), E_INVALIDARG);
}

TEST(Dxgi, LuidFromUuidIsStableAndSpreads)
{
    std::array<uint8_t, VK_UUID_SIZE> Uuid = {};
    const LUID First = Platform::Dxgi::LuidFromUuid(Uuid);
    EXPECT_EQ(First.LowPart, Platform::Dxgi::LuidFromUuid(Uuid).LowPart);
    EXPECT_EQ(First.HighPart, 0);
    Uuid[15] = 1;
    EXPECT_NE(First.LowPart, Platform::Dxgi::LuidFromUuid(Uuid).LowPart);
}

TEST(Vulkan, FailuresBecomeTheMatchingHresult)
{
    using Platform::Vulkan::HresultFromVk;
    EXPECT_EQ(HresultFromVk(VK_SUCCESS), S_OK);
    EXPECT_EQ(HresultFromVk(VK_ERROR_OUT_OF_HOST_MEMORY), E_OUTOFMEMORY);
    EXPECT_EQ(HresultFromVk(VK_ERROR_OUT_OF_DEVICE_MEMORY), E_OUTOFMEMORY);
    EXPECT_EQ(HresultFromVk(VK_ERROR_DEVICE_LOST), DXGI_ERROR_DEVICE_REMOVED);
    EXPECT_EQ(HresultFromVk(VK_ERROR_FORMAT_NOT_SUPPORTED), DXGI_ERROR_UNSUPPORTED);
    EXPECT_EQ(HresultFromVk(VK_TIMEOUT), DXGI_ERROR_WAS_STILL_DRAWING);
    EXPECT_EQ(HresultFromVk(VK_ERROR_UNKNOWN), E_FAIL);
    // What a failed submission or wait makes of the device.
    using Platform::Vulkan::HresultFromDeviceFailure;
    EXPECT_EQ(HresultFromDeviceFailure(VK_TIMEOUT), DXGI_ERROR_DEVICE_HUNG);
    EXPECT_EQ(HresultFromDeviceFailure(VK_ERROR_DEVICE_LOST), DXGI_ERROR_DEVICE_REMOVED);
    EXPECT_EQ(HresultFromDeviceFailure(VK_ERROR_OUT_OF_DEVICE_MEMORY), E_OUTOFMEMORY);
}

TEST(D3D11Device, CreationChecksItsArgumentsAndReportsTheLevelReached)
{
    ComPtr<ID3D11Device> Device;
    D3D_FEATURE_LEVEL Level = {};
    EXPECT_EQ(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_WARP, nullptr, 0, nullptr, 0, 6, Device.GetAddressOf(),
                                &Level, nullptr),
              E_INVALIDARG);
    EXPECT_EQ(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_UNKNOWN, nullptr, 0, nullptr, 0, D3D11_SDK_VERSION,
                                Device.GetAddressOf(), &Level, nullptr),
              E_INVALIDARG);
    EXPECT_EQ(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_WARP, nullptr, D3D11_CREATE_DEVICE_DEBUG, nullptr, 0,
                                D3D11_SDK_VERSION, Device.GetAddressOf(), &Level, nullptr),
              DXGI_ERROR_SDK_COMPONENT_MISSING);
    ComPtr<IDXGIFactory1> Factory;
    ComPtr<IDXGIAdapter1> Adapter;
    ASSERT_EQ(CreateDXGIFactory2(0, IID_PPV_ARGS(&Factory)), S_OK);
    ASSERT_EQ(Factory->EnumAdapters1(0, Adapter.GetAddressOf()), S_OK);
    EXPECT_EQ(D3D11CreateDevice(Adapter.Get(), D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, nullptr, 0, D3D11_SDK_VERSION,
                                Device.GetAddressOf(), &Level, nullptr),
              E_INVALIDARG);
    EXPECT_FALSE(Device);

    // The shared device asked for the default levels: 11.0 at most.
    Graphics::Device& Shared = Graphics::Shared();
    ASSERT_TRUE(Shared.m_Device);
    EXPECT_GE(Shared.m_Level, D3D_FEATURE_LEVEL_10_0);
    EXPECT_LE(Shared.m_Level, D3D_FEATURE_LEVEL_11_0);
    EXPECT_EQ(Shared.m_Device->GetFeatureLevel(), Shared.m_Level);
    EXPECT_EQ(Shared.m_Device->GetDeviceRemovedReason(), S_OK);
    ComPtr<ID3D11DeviceContext> Context;
    Shared.m_Device->GetImmediateContext(Context.GetAddressOf());
    EXPECT_EQ(Context.Get(), Shared.m_Context.Get());
    ComPtr<ID3D11Device> Owner;
    Context->GetDevice(Owner.GetAddressOf());
    EXPECT_EQ(Owner.Get(), Shared.m_Device.Get());

    // Multithread protection answers its previous state.
    ComPtr<ID3D10Multithread> Multithread;
    ASSERT_EQ(Shared.m_Device.As(&Multithread), S_OK);
    const BOOL Before = Multithread->GetMultithreadProtected();
    EXPECT_EQ(Multithread->SetMultithreadProtected(TRUE), Before);
    EXPECT_EQ(Multithread->SetMultithreadProtected(Before), TRUE);
}

TEST(D3D11Device, RefusesResourcesItCannotMake)
{
    HRESULT Result = S_OK;
    Texture(0, 4, DXGI_FORMAT_B8G8R8A8_UNORM, D3D11_USAGE_DEFAULT, 0, 0, nullptr, 0, &Result);
    EXPECT_EQ(Result, E_INVALIDARG);
    Texture(4, 4, DXGI_FORMAT_B8G8R8A8_UNORM, D3D11_USAGE_STAGING, D3D11_BIND_RENDER_TARGET,
            D3D11_CPU_ACCESS_READ, nullptr, 0, &Result);
    EXPECT_EQ(Result, E_INVALIDARG);
    Texture(3, 4, DXGI_FORMAT_NV12, D3D11_USAGE_DEFAULT, 0, 0, nullptr, 0, &Result);
    EXPECT_EQ(Result, E_INVALIDARG) << "NV12 needs an even size";
    Texture(16384 + 1, 4, DXGI_FORMAT_B8G8R8A8_UNORM, D3D11_USAGE_DEFAULT, 0, 0, nullptr, 0, &Result);
    EXPECT_EQ(Result, E_INVALIDARG);

    ID3D11Device* Device = Graphics::Shared().m_Device.Get();
    ComPtr<ID3D11Buffer> Buffer;
    D3D11_BUFFER_DESC Desc = {20, D3D11_USAGE_DEFAULT, D3D11_BIND_CONSTANT_BUFFER, 0, 0, 0};
    EXPECT_EQ(Device->CreateBuffer(&Desc, nullptr, Buffer.ReleaseAndGetAddressOf()), E_INVALIDARG) << "16-byte multiples";
    Desc = {16, D3D11_USAGE_IMMUTABLE, D3D11_BIND_VERTEX_BUFFER, 0, 0, 0};
    EXPECT_EQ(Device->CreateBuffer(&Desc, nullptr, Buffer.ReleaseAndGetAddressOf()), E_INVALIDARG) << "immutable needs data";

    // A view of a texture that is no render target.
    ComPtr<ID3D11Texture2D> Plain = Texture(4, 4, DXGI_FORMAT_B8G8R8A8_UNORM, D3D11_USAGE_DEFAULT, 0);
    ComPtr<ID3D11RenderTargetView> View;
    EXPECT_EQ(Device->CreateRenderTargetView(Plain.Get(), nullptr, View.GetAddressOf()), E_INVALIDARG);
}

TEST(D3D11Context, CopiesUpdatesAndClearsReachTheHost)
{
    Graphics::Device& Shared = Graphics::Shared();
    std::vector<uint8_t> Pattern(5 * 3 * 4);
    for (size_t Index = 0; Index < Pattern.size(); ++Index)
        Pattern[Index] = uint8_t(Index * 7 + 1);

    // Initial data, then a copy between two default textures, then back.
    ComPtr<ID3D11Texture2D> Source =
        Texture(5, 3, DXGI_FORMAT_B8G8R8A8_UNORM, D3D11_USAGE_DEFAULT, 0, 0, Pattern.data(), 20);
    ComPtr<ID3D11Texture2D> Target =
        Texture(5, 3, DXGI_FORMAT_B8G8R8A8_UNORM, D3D11_USAGE_DEFAULT, D3D11_BIND_RENDER_TARGET);
    Shared.m_Context->CopyResource(Target.Get(), Source.Get());
    EXPECT_EQ(Graphics::ReadBack(Shared.m_Device.Get(), Shared.m_Context.Get(), Target.Get()), Pattern);

    // UpdateSubresource of one pixel.
    const uint8_t Pixel[4] = {9, 8, 7, 6};
    const D3D11_BOX Box = {2, 1, 0, 3, 2, 1};
    Shared.m_Context->UpdateSubresource(Target.Get(), 0, &Box, Pixel, 4, 0);
    std::vector<uint8_t> Expected = Pattern;
    std::memcpy(&Expected[(1 * 5 + 2) * 4], Pixel, 4);
    EXPECT_EQ(Graphics::ReadBack(Shared.m_Device.Get(), Shared.m_Context.Get(), Target.Get()), Expected);

    // A clear that nothing draws after still reaches the texture.
    ComPtr<ID3D11RenderTargetView> View;
    ASSERT_EQ(Shared.m_Device->CreateRenderTargetView(Target.Get(), nullptr, View.GetAddressOf()), S_OK);
    const float Clear[4] = {1.0f, 0.0f, 0.5f, 1.0f};
    Shared.m_Context->ClearRenderTargetView(View.Get(), Clear);
    const std::vector<uint8_t> Cleared =
        Graphics::ReadBack(Shared.m_Device.Get(), Shared.m_Context.Get(), Target.Get());
    ASSERT_EQ(Cleared.size(), Pattern.size());
    for (size_t Index = 0; Index < Cleared.size(); Index += 4)
    {
        EXPECT_EQ(Cleared[Index + 0], 128); // blue
        EXPECT_EQ(Cleared[Index + 1], 0);
        EXPECT_EQ(Cleared[Index + 2], 255); // red
        EXPECT_EQ(Cleared[Index + 3], 255);
    }

    // A buffer updated on the device and copied to a staging buffer.
    D3D11_BUFFER_DESC Desc = {32, D3D11_USAGE_DEFAULT, D3D11_BIND_CONSTANT_BUFFER, 0, 0, 0};
    ComPtr<ID3D11Buffer> Buffer;
    ASSERT_EQ(Shared.m_Device->CreateBuffer(&Desc, nullptr, Buffer.ReleaseAndGetAddressOf()), S_OK);
    std::vector<uint8_t> Bytes(32);
    for (size_t Index = 0; Index < Bytes.size(); ++Index)
        Bytes[Index] = uint8_t(200 - Index);
    Shared.m_Context->UpdateSubresource(Buffer.Get(), 0, nullptr, Bytes.data(), 0, 0);
    EXPECT_EQ(Graphics::ReadBuffer(Shared.m_Device.Get(), Shared.m_Context.Get(), Buffer.Get()), Bytes);

    // Map refuses what cannot be mapped.
    D3D11_MAPPED_SUBRESOURCE Mapped;
    EXPECT_EQ(Shared.m_Context->Map(Target.Get(), 0, D3D11_MAP_READ, 0, &Mapped), E_INVALIDARG);
}

TEST(D3D11Context, DynamicAndPlanarTexturesRoundTrip)
{
    Graphics::Device& Shared = Graphics::Shared();
    ComPtr<ID3D11Texture2D> Dynamic =
        Texture(4, 2, DXGI_FORMAT_B8G8R8A8_UNORM, D3D11_USAGE_DYNAMIC, D3D11_BIND_SHADER_RESOURCE,
                D3D11_CPU_ACCESS_WRITE);
    D3D11_MAPPED_SUBRESOURCE Mapped = {};
    ASSERT_EQ(Shared.m_Context->Map(Dynamic.Get(), 0, D3D11_MAP_WRITE_DISCARD, 0, &Mapped), S_OK);
    std::vector<uint8_t> Expected;
    for (UINT Y = 0; Y < 2; ++Y)
        for (UINT X = 0; X < 16; ++X)
        {
            static_cast<uint8_t*>(Mapped.pData)[Y * Mapped.RowPitch + X] = uint8_t(Y * 16 + X);
            Expected.push_back(uint8_t(Y * 16 + X));
        }
    Shared.m_Context->Unmap(Dynamic.Get(), 0);
    EXPECT_EQ(Graphics::ReadBack(Shared.m_Device.Get(), Shared.m_Context.Get(), Dynamic.Get()), Expected);

    // NV12 where the device has it: luma rows, then the chroma plane.
    HRESULT Result = S_OK;
    std::vector<uint8_t> Planes(4 * 2 + 4 * 1);
    for (size_t Index = 0; Index < Planes.size(); ++Index)
        Planes[Index] = uint8_t(Index + 16);
    ComPtr<ID3D11Texture2D> Nv12 =
        Texture(4, 2, DXGI_FORMAT_NV12, D3D11_USAGE_DEFAULT, 0, 0, Planes.data(), 4, &Result);
    if (FAILED(Result))
    {
        EXPECT_EQ(Result, E_INVALIDARG);
        GTEST_SKIP() << "the device has no NV12 images";
    }
    Platform::D3D11::TextureReadback Readback;
    ASSERT_EQ(Readback.Read(Nv12.Get()), S_OK);
    const auto& Layout = Readback.Layout();
    ASSERT_EQ(Layout.size(), 2u);
    for (UINT Y = 0; Y < 2; ++Y)
        EXPECT_EQ(0, std::memcmp(Readback.Data() + Layout[0].m_Offset + Y * Layout[0].m_RowPitch, &Planes[Y * 4], 4));
    EXPECT_EQ(0, std::memcmp(Readback.Data() + Layout[1].m_Offset, &Planes[8], 4));
}

TEST(D3D11Context, DrawsWithCullingConstantsAndAnUprightPicture)
{
    Drawing Draw(8, 6);
    // Red on the right half only, green on the top half only.
    std::vector<Vertex> Halves;
    const float Green[4] = {0, 1, 0, 1}, Red[4] = {1, 0, 0, 1};
    auto Rectangle = [&](float X0, float Y0, float X1, float Y1, const float* Color) {
        const Vertex BL = {{X0, Y0}, {Color[0], Color[1], Color[2], 1}}, TL = {{X0, Y1}, {Color[0], Color[1], Color[2], 1}},
                     TR = {{X1, Y1}, {Color[0], Color[1], Color[2], 1}}, BR = {{X1, Y0}, {Color[0], Color[1], Color[2], 1}};
        Halves.insert(Halves.end(), {BL, TL, TR, BL, TR, BR});
    };
    Rectangle(0, -1, 1, 0, Red);  // bottom right
    Rectangle(-1, 0, 0, 1, Green); // top left
    Draw.Draw(Halves, White);
    const std::vector<uint8_t> Pixels = Draw.Pixels();
    ASSERT_EQ(Pixels.size(), 8u * 6 * 4);
    auto At = [&](int X, int Y) { return &Pixels[(Y * 8 + X) * 4]; }; // row 0 at the top
    EXPECT_EQ(At(7, 5)[2], 255) << "red at the bottom right";
    EXPECT_EQ(At(0, 0)[1], 255) << "green at the top left";
    EXPECT_EQ(At(7, 0)[0], 255) << "clear blue at the top right";
    EXPECT_EQ(At(0, 5)[0], 255) << "clear blue at the bottom left";

    // The constant buffer scales the colour; unbound, it reads as zeros.
    const float Half[4] = {0.5f, 0.5f, 0.5f, 1.0f};
    Draw.Draw(Quad(1, 1, 1), Half);
    EXPECT_NEAR(Draw.Pixels()[0], 128, 1);
    Draw.Draw(Quad(1, 1, 1), Half, false);
    EXPECT_EQ(Draw.Pixels()[3], 0) << "alpha from a zero tint";

    // Counter-clockwise triangles are back faces: nothing is drawn.
    std::vector<Vertex> Back = Quad(1, 1, 1);
    std::swap(Back[1], Back[2]);
    std::swap(Back[4], Back[5]);
    Draw.Draw(Back, White);
    const std::vector<uint8_t> Culled = Draw.Pixels();
    for (size_t Index = 0; Index < Culled.size(); Index += 4)
    {
        ASSERT_EQ(Culled[Index], 255) << "only the clear colour";
    }
}

TEST(D3DCompile, ReportsErrorsAndWarningsInTheMessages)
{
    const Graphics::Compiled Missing = Graphics::Compile(Source, "Missing", "ps_4_0");
    EXPECT_EQ(Missing.m_Result, E_FAIL);
    EXPECT_FALSE(Missing.m_Code);
    EXPECT_NE(Missing.m_Messages.find("Missing"), std::string::npos) << Missing.m_Messages;

    const Graphics::Compiled Broken = Graphics::Compile("float4 PS() : SV_Target { return Undeclared; }", "PS", "ps_4_0");
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
    EXPECT_EQ(Device->CreatePixelShader(Garbage, sizeof(Garbage), nullptr, Pixel.ReleaseAndGetAddressOf()), E_INVALIDARG);

    ComPtr<ID3D11InputLayout> InputLayout;
    const void* Code = Vs.m_Code->GetBufferPointer();
    const SIZE_T Size = Vs.m_Code->GetBufferSize();
    EXPECT_EQ(Device->CreateInputLayout(Layout, 2, Code, Size, InputLayout.ReleaseAndGetAddressOf()), S_OK);
    // An extra element that the shader does not read is fine.
    const D3D11_INPUT_ELEMENT_DESC Extra[] = {Layout[0], Layout[1],
                                              {"TEXCOORD", 0, DXGI_FORMAT_R32G32_FLOAT, 0, 0,
                                               D3D11_INPUT_PER_VERTEX_DATA, 0}};
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
    EXPECT_EQ(Device->CreatePixelShader(Sampling.m_Code->GetBufferPointer(), Sampling.m_Code->GetBufferSize(),
                                        nullptr, Pixel.ReleaseAndGetAddressOf()),
              E_NOTIMPL);
}

TEST(Resources, TheShaderSourceIsEmbeddedWithCrLf)
{
    const HRSRC Resource = FindResourceW(nullptr, MAKEINTRESOURCEW(105), RT_RCDATA);
    ASSERT_TRUE(Resource);
    const DWORD Size = SizeofResource(nullptr, Resource);
    const char* Text = static_cast<const char*>(LockResource(LoadResource(GetModuleHandleW(nullptr), Resource)));
    ASSERT_TRUE(Text);
    const std::string Content(Text, Size);
    EXPECT_NE(Content.find("float4 PS("), std::string::npos);
    EXPECT_EQ(Content.find('\0'), std::string::npos);
    for (size_t Index = 0; Index < Content.size(); ++Index)
    {
        if (Content[Index] == '\n')
        {
            ASSERT_TRUE(Index > 0 && Content[Index - 1] == '\r') << "LF without CR at " << Index;
        }
    }

    SetLastError(0);
    EXPECT_FALSE(FindResourceW(nullptr, MAKEINTRESOURCEW(106), RT_RCDATA));
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
    EXPECT_FALSE(FindResourceW(nullptr, MAKEINTRESOURCEW(105), MAKEINTRESOURCEW(6)));
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_TYPE_NOT_FOUND);
}

// One thread renders and copies while another reads the texture back, as the
// encoder's thread will; under ThreadSanitizer too.
TEST(D3D11Concurrency, ReadbackOnAnotherThreadWhileRendering)
{
    Drawing Draw(64, 32);
    Graphics::Device& Shared = Graphics::Shared();
    ComPtr<ID3D10Multithread> Multithread;
    ASSERT_EQ(Shared.m_Device.As(&Multithread), S_OK);
    Multithread->SetMultithreadProtected(TRUE);
    ComPtr<ID3D11Texture2D> Copy =
        Texture(64, 32, DXGI_FORMAT_B8G8R8A8_UNORM, D3D11_USAGE_DEFAULT, D3D11_BIND_RENDER_TARGET);
    Draw.Draw(Quad(1, 0, 0), White);
    Shared.m_Context->CopyResource(Copy.Get(), Draw.m_Target.Get());

    std::atomic<bool> Stop{false};
    std::atomic<int> Reads{0}, Wrong{0};
    std::thread Reader([&] {
        Platform::D3D11::TextureReadback Readback;
        while (!Stop.load() || Reads.load() < 3)
        {
            if (FAILED(Readback.Read(Copy.Get())))
            {
                ++Wrong;
                break;
            }
            // Every frame copied is one solid colour, red or green.
            const uint8_t* Data = Readback.Data();
            const uint8_t First = Data[2];
            for (UINT Y = 0; Y < 32; ++Y)
                for (UINT X = 0; X < 64; ++X)
                    if (Data[Y * Readback.Layout()[0].m_RowPitch + X * 4 + 2] != First)
                        ++Wrong;
            ++Reads;
        }
    });
    for (int Frame = 0; Frame < 20; ++Frame)
    {
        Draw.Draw(Frame % 2 ? Quad(1, 0, 0) : Quad(0, 1, 0), White);
        Multithread->Enter();
        Shared.m_Context->CopyResource(Copy.Get(), Draw.m_Target.Get());
        Multithread->Leave();
    }
    Stop = true;
    Reader.join();
    EXPECT_EQ(Wrong.load(), 0);
    EXPECT_GE(Reads.load(), 3);
    Multithread->SetMultithreadProtected(FALSE);
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

TEST(D3D11Context, RegionCopiesStayInsideBothTextures)
{
    Graphics::Device& Shared = Graphics::Shared();
    std::vector<uint8_t> Pattern(4 * 4 * 4);
    for (size_t Index = 0; Index < Pattern.size(); ++Index)
        Pattern[Index] = uint8_t(Index);
    ComPtr<ID3D11Texture2D> Source =
        Texture(4, 4, DXGI_FORMAT_B8G8R8A8_UNORM, D3D11_USAGE_DEFAULT, 0, 0, Pattern.data(), 16);
    ComPtr<ID3D11Texture2D> Staging =
        Texture(3, 2, DXGI_FORMAT_B8G8R8A8_UNORM, D3D11_USAGE_STAGING, 0, D3D11_CPU_ACCESS_READ);
    // Pixels (1..2, 2..3) of the source land at (1, 0) of the target.
    const D3D11_BOX Box = {1, 2, 0, 3, 4, 1};
    Shared.m_Context->CopySubresourceRegion(Staging.Get(), 0, 1, 0, 0, Source.Get(), 0, &Box);
    // A box past either texture is ignored.
    const D3D11_BOX Outside = {2, 0, 0, 5, 1, 1};
    Shared.m_Context->CopySubresourceRegion(Staging.Get(), 0, 0, 1, 0, Source.Get(), 0, &Outside);
    Shared.m_Context->CopySubresourceRegion(Staging.Get(), 0, 2, 0, 0, Source.Get(), 0, &Box);
    D3D11_MAPPED_SUBRESOURCE Mapped = {};
    ASSERT_EQ(Shared.m_Context->Map(Staging.Get(), 0, D3D11_MAP_READ, 0, &Mapped), S_OK);
    const uint8_t* Rows = static_cast<const uint8_t*>(Mapped.pData);
    for (UINT Y = 0; Y < 2; ++Y)
    {
        EXPECT_EQ(0, std::memcmp(Rows + Y * Mapped.RowPitch, std::vector<uint8_t>(4).data(), 4)) << "untouched";
        EXPECT_EQ(0, std::memcmp(Rows + Y * Mapped.RowPitch + 4, &Pattern[((2 + Y) * 4 + 1) * 4], 8)) << Y;
    }
    Shared.m_Context->Unmap(Staging.Get(), 0);
}

TEST(D3D11Device, ChildrenOutliveTheirDevice)
{
    ComPtr<ID3D11Device> Device;
    ComPtr<ID3D11DeviceContext> Context;
    ASSERT_EQ(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_WARP, nullptr, 0, nullptr, 0, D3D11_SDK_VERSION,
                                Device.GetAddressOf(), nullptr, Context.GetAddressOf()),
              S_OK);
    D3D11_TEXTURE2D_DESC Desc = {8, 8, 1, 1, DXGI_FORMAT_B8G8R8A8_UNORM, {1, 0}, D3D11_USAGE_DEFAULT,
                                 D3D11_BIND_RENDER_TARGET, 0, 0};
    ComPtr<ID3D11Texture2D> Texture;
    ASSERT_EQ(Device->CreateTexture2D(&Desc, nullptr, Texture.GetAddressOf()), S_OK);
    ComPtr<ID3D11RenderTargetView> View;
    ASSERT_EQ(Device->CreateRenderTargetView(Texture.Get(), nullptr, View.GetAddressOf()), S_OK);
    const float Clear[4] = {1, 1, 1, 1};
    Context->OMSetRenderTargets(1, View.GetAddressOf(), nullptr);
    Context->ClearRenderTargetView(View.Get(), Clear);
    Context->Flush();
    // The context holds the device: releasing both leaves the children alone.
    Context.Reset();
    Device.Reset();
    ComPtr<ID3D11Device> Owner;
    Texture->GetDevice(Owner.GetAddressOf());
    EXPECT_FALSE(Owner) << "the device is gone";
    ComPtr<ID3D11Resource> Resource;
    View->GetResource(Resource.GetAddressOf());
    EXPECT_EQ(Resource.Get(), static_cast<ID3D11Resource*>(Texture.Get()));
}

TEST(D3DCompile, FlagsThatWouldChangeTheCodeAreRefused)
{
    // Row-major packing would lay the constant buffers out otherwise: the
    // compiler cannot, so it says so rather than compile something else.
    const Graphics::Compiled RowMajor = Graphics::Compile(Source, "VS", "vs_4_0", D3DCOMPILE_PACK_MATRIX_ROW_MAJOR);
    EXPECT_EQ(RowMajor.m_Result, E_INVALIDARG);
    EXPECT_FALSE(RowMajor.m_Code);
    EXPECT_NE(RowMajor.m_Messages.find("0x8"), std::string::npos) << RowMajor.m_Messages;
    for (UINT Flags : {D3DCOMPILE_PACK_MATRIX_ROW_MAJOR | D3DCOMPILE_PACK_MATRIX_COLUMN_MAJOR, D3DCOMPILE_IEEE_STRICTNESS,
                       D3DCOMPILE_ENABLE_BACKWARDS_COMPATIBILITY, D3DCOMPILE_ENABLE_UNBOUNDED_DESCRIPTOR_TABLES,
                       D3DCOMPILE_FORCE_PS_SOFTWARE_NO_OPT, 0x10000u, 0x80000000u})
        EXPECT_EQ(Graphics::Compile(Source, "PS", "ps_4_0", Flags).m_Result, E_INVALIDARG) << std::hex << Flags;
    // What the compiler honours or may ignore without changing the meaning.
    for (UINT Flags : {D3DCOMPILE_PACK_MATRIX_COLUMN_MAJOR, D3DCOMPILE_ENABLE_STRICTNESS,
                       D3DCOMPILE_DEBUG | D3DCOMPILE_SKIP_OPTIMIZATION, D3DCOMPILE_OPTIMIZATION_LEVEL3,
                       D3DCOMPILE_PREFER_FLOW_CONTROL | D3DCOMPILE_PARTIAL_PRECISION})
        EXPECT_EQ(Graphics::Compile(Source, "PS", "ps_4_0", Flags).m_Result, S_OK) << std::hex << Flags;
}

TEST(D3D11Context, CopiesWithinAFormatFamilyKeepTheBits)
{
    Graphics::Device& Shared = Graphics::Shared();
    std::vector<uint8_t> Pattern(4 * 2 * 4);
    for (size_t Index = 0; Index < Pattern.size(); ++Index)
        Pattern[Index] = uint8_t(Index * 9 + 3);
    ComPtr<ID3D11Texture2D> Linear =
        Texture(4, 2, DXGI_FORMAT_B8G8R8A8_UNORM, D3D11_USAGE_DEFAULT, 0, 0, Pattern.data(), 16);
    ComPtr<ID3D11Texture2D> Srgb = Texture(4, 2, DXGI_FORMAT_B8G8R8A8_UNORM_SRGB, D3D11_USAGE_DEFAULT, 0);
    Shared.m_Context->CopyResource(Srgb.Get(), Linear.Get());
    EXPECT_EQ(Graphics::ReadBack(Shared.m_Device.Get(), Shared.m_Context.Get(), Srgb.Get()), Pattern);
    ComPtr<ID3D11Texture2D> Unsigned = Texture(4, 2, DXGI_FORMAT_R8G8B8A8_UINT, D3D11_USAGE_DEFAULT, 0);
    ComPtr<ID3D11Texture2D> Normalized =
        Texture(4, 2, DXGI_FORMAT_R8G8B8A8_UNORM, D3D11_USAGE_DEFAULT, 0, 0, Pattern.data(), 16);
    const D3D11_BOX Box = {1, 0, 0, 3, 2, 1};
    Shared.m_Context->CopySubresourceRegion(Unsigned.Get(), 0, 1, 0, 0, Normalized.Get(), 0, &Box);
    const std::vector<uint8_t> Copied = Graphics::ReadBack(Shared.m_Device.Get(), Shared.m_Context.Get(), Unsigned.Get());
    ASSERT_EQ(Copied.size(), Pattern.size());
    for (int Row = 0; Row < 2; ++Row)
        EXPECT_EQ(0, std::memcmp(&Copied[Row * 16 + 4], &Pattern[Row * 16 + 4], 8)) << Row;

    // Between families nothing happens, as the runtime does without its
    // debug layer: the target keeps its pixels.
    const std::vector<uint8_t> Before = Graphics::ReadBack(Shared.m_Device.Get(), Shared.m_Context.Get(), Srgb.Get());
    Shared.m_Context->CopyResource(Srgb.Get(), Unsigned.Get());
    EXPECT_EQ(Graphics::ReadBack(Shared.m_Device.Get(), Shared.m_Context.Get(), Srgb.Get()), Before);
}

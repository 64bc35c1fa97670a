// The Direct3D 11 device on the software adapter: its creation and the
// objects that it makes.

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

TEST(D3D11Device, CreationChecksItsArgumentsAndReportsTheLevelReached)
{
    ComPtr<ID3D11Device> Device;
    D3D_FEATURE_LEVEL Level = {};
    EXPECT_EQ(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_WARP, nullptr, 0, nullptr, 0, 6, Device.GetAddressOf(), &Level,
                                nullptr),
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
    Texture(4, 4, DXGI_FORMAT_B8G8R8A8_UNORM, D3D11_USAGE_STAGING, D3D11_BIND_RENDER_TARGET, D3D11_CPU_ACCESS_READ,
            nullptr, 0, &Result);
    EXPECT_EQ(Result, E_INVALIDARG);
    Texture(3, 4, DXGI_FORMAT_NV12, D3D11_USAGE_DEFAULT, 0, 0, nullptr, 0, &Result);
    EXPECT_EQ(Result, E_INVALIDARG) << "NV12 needs an even size";
    Texture(16384 + 1, 4, DXGI_FORMAT_B8G8R8A8_UNORM, D3D11_USAGE_DEFAULT, 0, 0, nullptr, 0, &Result);
    EXPECT_EQ(Result, E_INVALIDARG);

    ID3D11Device* Device = Graphics::Shared().m_Device.Get();
    ComPtr<ID3D11Buffer> Buffer;
    D3D11_BUFFER_DESC Desc = {20, D3D11_USAGE_DEFAULT, D3D11_BIND_CONSTANT_BUFFER, 0, 0, 0};
    EXPECT_EQ(Device->CreateBuffer(&Desc, nullptr, Buffer.ReleaseAndGetAddressOf()), E_INVALIDARG)
        << "16-byte multiples";
    Desc = {16, D3D11_USAGE_IMMUTABLE, D3D11_BIND_VERTEX_BUFFER, 0, 0, 0};
    EXPECT_EQ(Device->CreateBuffer(&Desc, nullptr, Buffer.ReleaseAndGetAddressOf()), E_INVALIDARG)
        << "immutable needs data";

    // A view of a texture that is no render target.
    ComPtr<ID3D11Texture2D> Plain = Texture(4, 4, DXGI_FORMAT_B8G8R8A8_UNORM, D3D11_USAGE_DEFAULT, 0);
    ComPtr<ID3D11RenderTargetView> View;
    EXPECT_EQ(Device->CreateRenderTargetView(Plain.Get(), nullptr, View.GetAddressOf()), E_INVALIDARG);
}

TEST(D3D11Device, ChildrenOutliveTheirDevice)
{
    ComPtr<ID3D11Device> Device;
    ComPtr<ID3D11DeviceContext> Context;
    ASSERT_EQ(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_WARP, nullptr, 0, nullptr, 0, D3D11_SDK_VERSION,
                                Device.GetAddressOf(), nullptr, Context.GetAddressOf()),
              S_OK);
    D3D11_TEXTURE2D_DESC Desc = {
        8, 8, 1, 1, DXGI_FORMAT_B8G8R8A8_UNORM, {1, 0}, D3D11_USAGE_DEFAULT, D3D11_BIND_RENDER_TARGET, 0, 0};
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

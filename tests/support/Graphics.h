// Helpers for tests that draw: one device per test suite, and reading a
// texture back through a staging texture.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include <d3d11.h>
#include <d3dcompiler.h>
#include <wrl/client.h>

#include "support/TextureReadback.h"

namespace Graphics {

using Microsoft::WRL::ComPtr;

struct Device
{
    ComPtr<ID3D11Device> m_Device;
    ComPtr<ID3D11DeviceContext> m_Context;
    D3D_FEATURE_LEVEL m_Level = {};
};

// A device on the first software adapter, made once per process.
inline Device& Shared()
{
    static Device Instance = [] {
        Device Created;
        const HRESULT Result =
            D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_WARP, nullptr, 0, nullptr, 0, D3D11_SDK_VERSION,
                              Created.m_Device.GetAddressOf(), &Created.m_Level, Created.m_Context.GetAddressOf());
        EXPECT_EQ(Result, S_OK);
        return Created;
    }();
    return Instance;
}

// A B8G8R8A8 texture of Device that shaders read and draw into, holding
// Pixels (rows packed).
inline ComPtr<ID3D11Texture2D> BgraTexture(ID3D11Device* Device, const std::vector<uint8_t>& Pixels, UINT Width,
                                           UINT Height)
{
    const D3D11_TEXTURE2D_DESC Desc = {Width,
                                       Height,
                                       1,
                                       1,
                                       DXGI_FORMAT_B8G8R8A8_UNORM,
                                       {1, 0},
                                       D3D11_USAGE_DEFAULT,
                                       D3D11_BIND_SHADER_RESOURCE | D3D11_BIND_RENDER_TARGET,
                                       0,
                                       0};
    const D3D11_SUBRESOURCE_DATA Data = {Pixels.data(), Width * 4, 0};
    ComPtr<ID3D11Texture2D> Texture;
    EXPECT_EQ(Device->CreateTexture2D(&Desc, &Data, Texture.GetAddressOf()), S_OK);
    return Texture;
}

// The pixels of a texture's first plane, rows packed.
inline std::vector<uint8_t> ReadBack(ID3D11Device* Device, ID3D11DeviceContext* Context, ID3D11Texture2D* Texture,
                                     size_t BytesPerPixel = 4)
{
    Readback Result = ReadTexture(Device, Context, Texture, BytesPerPixel);
    EXPECT_EQ(Result.m_Result, S_OK);
    return std::move(Result.m_Pixels);
}

inline std::vector<uint8_t> ReadBuffer(ID3D11Device* Device, ID3D11DeviceContext* Context, ID3D11Buffer* Buffer)
{
    D3D11_BUFFER_DESC Desc;
    Buffer->GetDesc(&Desc);
    Desc.Usage = D3D11_USAGE_STAGING;
    Desc.BindFlags = 0;
    Desc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
    ComPtr<ID3D11Buffer> Staging;
    EXPECT_EQ(Device->CreateBuffer(&Desc, nullptr, Staging.GetAddressOf()), S_OK);
    if (!Staging)
        return {};
    Context->CopyResource(Staging.Get(), Buffer);
    D3D11_MAPPED_SUBRESOURCE Mapped = {};
    EXPECT_EQ(Context->Map(Staging.Get(), 0, D3D11_MAP_READ, 0, &Mapped), S_OK);
    std::vector<uint8_t> Bytes(static_cast<const uint8_t*>(Mapped.pData),
                               static_cast<const uint8_t*>(Mapped.pData) + Desc.ByteWidth);
    Context->Unmap(Staging.Get(), 0);
    return Bytes;
}

struct Compiled
{
    HRESULT m_Result = E_FAIL;
    ComPtr<ID3DBlob> m_Code;
    std::string m_Messages;
};

inline Compiled Compile(const std::string& Source, const char* EntryPoint, const char* Target, UINT Flags = 0)
{
    Compiled Result;
    ComPtr<ID3DBlob> Messages;
    Result.m_Result = D3DCompile(Source.data(), Source.size(), nullptr, nullptr, nullptr, EntryPoint, Target, Flags, 0,
                                 Result.m_Code.GetAddressOf(), Messages.GetAddressOf());
    if (Messages)
        Result.m_Messages = static_cast<const char*>(Messages->GetBufferPointer());
    return Result;
}

} // namespace Graphics

// Reads a texture's first plane back to the host through a staging texture,
// for the tests, the render-frame program and the benchmarks.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include <d3d11.h>
#include <wrl/client.h>

namespace Graphics {

struct Readback
{
    HRESULT m_Result = E_FAIL;
    UINT m_Width = 0;
    UINT m_Height = 0;
    std::vector<uint8_t> m_Pixels; // rows packed, top row first
};

inline Readback ReadTexture(ID3D11Device* Device, ID3D11DeviceContext* Context, ID3D11Texture2D* Texture,
                            size_t BytesPerPixel = 4)
{
    Readback Result;
    D3D11_TEXTURE2D_DESC Desc;
    Texture->GetDesc(&Desc);
    Desc.Usage = D3D11_USAGE_STAGING;
    Desc.BindFlags = 0;
    Desc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
    Desc.MiscFlags = 0;
    Microsoft::WRL::ComPtr<ID3D11Texture2D> Staging;
    Result.m_Result = Device->CreateTexture2D(&Desc, nullptr, Staging.GetAddressOf());
    if (FAILED(Result.m_Result))
        return Result;
    Context->CopyResource(Staging.Get(), Texture);
    D3D11_MAPPED_SUBRESOURCE Mapped = {};
    Result.m_Result = Context->Map(Staging.Get(), 0, D3D11_MAP_READ, 0, &Mapped);
    if (FAILED(Result.m_Result))
        return Result;
    const size_t Row = Desc.Width * BytesPerPixel;
    Result.m_Width = Desc.Width;
    Result.m_Height = Desc.Height;
    Result.m_Pixels.resize(Row * Desc.Height);
    for (UINT Y = 0; Y < Desc.Height; ++Y)
        std::memcpy(Result.m_Pixels.data() + Y * Row, static_cast<const uint8_t*>(Mapped.pData) + Y * Mapped.RowPitch,
                    Row);
    Context->Unmap(Staging.Get(), 0);
    return Result;
}

} // namespace Graphics

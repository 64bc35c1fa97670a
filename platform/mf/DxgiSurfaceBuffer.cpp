// A media buffer over a texture: the texture stays on the device, and Lock
// reads its pixels back into a contiguous copy.

#include <cstring>
#include <mutex>
#include <vector>

#include <wrl/implements.h>
#include "D3D11/Readback.h"
#include "AttributeStore.h"
#include "BufferLength.h"
#include <mfapi.h>

namespace Platform {

namespace {

using namespace Microsoft::WRL;

class DxgiSurfaceBuffer final
    : public RuntimeClass<RuntimeClassFlags<ClassicCom>, IMFMediaBuffer, IMF2DBuffer, IMFDXGIBuffer>
{
public:
    DxgiSurfaceBuffer(ID3D11Texture2D* Texture, UINT Subresource)
        : m_Texture(Texture),
          m_Subresource(Subresource),
          m_Planes(PlanesOf(Texture)),
          m_ContiguousLength(ContiguousLengthOf(m_Planes)),
          m_Length(m_ContiguousLength)
    {}

    // IMFMediaBuffer
    STDMETHODIMP Lock(BYTE** Buffer, DWORD* MaxLength, DWORD* CurrentLength) override
    {
        if (!Buffer)
            return E_POINTER;
        std::lock_guard Guard(m_Lock);
        const HRESULT Result = ReadBack();
        if (FAILED(Result))
            return Result;
        ++m_LockCount;
        *Buffer = m_Contiguous.data();
        if (MaxLength)
            *MaxLength = m_ContiguousLength;
        if (CurrentLength)
            *CurrentLength = m_Length.Current();
        return S_OK;
    }
    STDMETHODIMP Unlock() override
    {
        std::lock_guard Guard(m_Lock);
        if (m_LockCount == 0)
            return MF_E_INVALIDREQUEST;
        --m_LockCount;
        return S_OK;
    }
    STDMETHODIMP GetCurrentLength(DWORD* CurrentLength) override { return m_Length.GetCurrentLength(CurrentLength); }
    STDMETHODIMP SetCurrentLength(DWORD CurrentLength) override { return m_Length.SetCurrentLength(CurrentLength); }
    STDMETHODIMP GetMaxLength(DWORD* MaxLength) override { return m_Length.GetMaxLength(MaxLength); }

    // IMF2DBuffer
    STDMETHODIMP Lock2D(BYTE** Scanline0, LONG* Pitch) override
    {
        if (!Scanline0 || !Pitch)
            return E_POINTER;
        const HRESULT Result = Lock(Scanline0, nullptr, nullptr);
        if (SUCCEEDED(Result))
            *Pitch = static_cast<LONG>(m_Planes[0].Pitch);
        return Result;
    }
    STDMETHODIMP Unlock2D() override { return Unlock(); }
    STDMETHODIMP GetScanline0AndPitch(BYTE** Scanline0, LONG* Pitch) override
    {
        if (!Scanline0 || !Pitch)
            return E_POINTER;
        std::lock_guard Guard(m_Lock);
        if (m_LockCount == 0)
            return MF_E_INVALIDREQUEST;
        *Scanline0 = m_Contiguous.data();
        *Pitch = static_cast<LONG>(m_Planes[0].Pitch);
        return S_OK;
    }
    STDMETHODIMP IsContiguousFormat(BOOL* Contiguous) override
    {
        if (!Contiguous)
            return E_POINTER;
        *Contiguous = TRUE;
        return S_OK;
    }
    STDMETHODIMP GetContiguousLength(DWORD* Length) override
    {
        if (!Length)
            return E_POINTER;
        *Length = m_ContiguousLength;
        return S_OK;
    }
    STDMETHODIMP ContiguousCopyTo(BYTE* Destination, DWORD Size) override
    {
        if (!Destination)
            return E_POINTER;
        if (Size < m_ContiguousLength)
            return E_INVALIDARG;
        std::lock_guard Guard(m_Lock);
        const HRESULT Result = ReadBack();
        if (SUCCEEDED(Result))
            std::memcpy(Destination, m_Contiguous.data(), m_ContiguousLength);
        return Result;
    }
    STDMETHODIMP ContiguousCopyFrom(const BYTE* Source, DWORD Size) override
    {
        if (!Source)
            return E_POINTER;
        if (Size < m_ContiguousLength)
            return E_INVALIDARG;
        // Planes follow each other with one pitch, as the device takes them.
        ComPtr<ID3D11Device> Device;
        m_Texture->GetDevice(&Device);
        ComPtr<ID3D11DeviceContext> Context;
        Device->GetImmediateContext(&Context);
        Context->UpdateSubresource(m_Texture.Get(), m_Subresource, nullptr, Source, m_Planes[0].Pitch, 0);
        return S_OK;
    }

    // IMFDXGIBuffer
    STDMETHODIMP GetResource(REFIID Riid, LPVOID* Object) override
    {
        if (!Object)
            return E_POINTER;
        return m_Texture->QueryInterface(Riid, Object);
    }
    STDMETHODIMP GetSubresourceIndex(UINT* Subresource) override
    {
        if (!Subresource)
            return E_POINTER;
        *Subresource = m_Subresource;
        return S_OK;
    }
    STDMETHODIMP GetUnknown(REFIID Key, REFIID Riid, LPVOID* Object) override
    {
        return m_Unknowns.GetUnknown(Key, Riid, Object);
    }
    STDMETHODIMP SetUnknown(REFIID Key, IUnknown* Data) override
    {
        return Data ? m_Unknowns.SetUnknown(Key, Data) : m_Unknowns.DeleteItem(Key);
    }

private:
    struct Plane
    {
        uint32_t Pitch; // tight: the plane's width in bytes
        uint32_t Height;
    };

    static std::vector<Plane> PlanesOf(ID3D11Texture2D* Texture)
    {
        std::vector<Plane> Planes;
        for (const D3D11::PlaneLayout& Layout : D3D11::HostLayoutOf(Texture))
            Planes.push_back({Layout.m_Width * Layout.m_TexelBytes, Layout.m_Height});
        return Planes;
    }
    static DWORD ContiguousLengthOf(const std::vector<Plane>& Planes)
    {
        DWORD Length = 0;
        for (const Plane& Each : Planes)
            Length += Each.Pitch * Each.Height;
        return Length;
    }

    // Under m_Lock: the texture's pixels, plane after plane, rows tight.
    HRESULT ReadBack()
    {
        const HRESULT Result = m_Readback.Read(m_Texture.Get());
        if (FAILED(Result))
            return Result;
        m_Contiguous.resize(m_ContiguousLength);
        BYTE* Target = m_Contiguous.data();
        for (size_t Index = 0; Index < m_Planes.size(); ++Index)
        {
            const D3D11::PlaneLayout& Layout = m_Readback.Layout()[Index];
            const uint8_t* Source = m_Readback.Data() + Layout.m_Offset;
            for (uint32_t Row = 0; Row < m_Planes[Index].Height; ++Row)
            {
                std::memcpy(Target, Source + static_cast<size_t>(Row) * Layout.m_RowPitch, m_Planes[Index].Pitch);
                Target += m_Planes[Index].Pitch;
            }
        }
        return S_OK;
    }

    const ComPtr<ID3D11Texture2D> m_Texture;
    const UINT m_Subresource;
    const std::vector<Plane> m_Planes;
    const DWORD m_ContiguousLength;
    BufferLength m_Length;
    std::mutex m_Lock;
    unsigned m_LockCount = 0;
    D3D11::TextureReadback m_Readback;
    std::vector<BYTE> m_Contiguous;
    AttributeStore m_Unknowns;
};

} // namespace

} // namespace Platform

HRESULT MFCreateDXGISurfaceBuffer(REFIID riid, IUnknown* punkSurface, UINT uSubresourceIndex, BOOL,
                                  IMFMediaBuffer** ppBuffer)
{
    if (ppBuffer)
        *ppBuffer = nullptr;
    if (!punkSurface || !ppBuffer)
        return E_POINTER;
    if (riid != __uuidof(ID3D11Texture2D))
        return E_INVALIDARG;
    Microsoft::WRL::ComPtr<ID3D11Texture2D> Texture;
    HRESULT Result = punkSurface->QueryInterface(IID_PPV_ARGS(&Texture));
    if (FAILED(Result))
        return E_INVALIDARG;
    // Textures here have one mip level and one array slice, and come from
    // this platform's devices.
    D3D11_TEXTURE2D_DESC Description;
    Texture->GetDesc(&Description);
    if (uSubresourceIndex != 0 || Description.Usage == D3D11_USAGE_STAGING ||
        Platform::D3D11::HostLayoutOf(Texture.Get()).empty())
        return E_INVALIDARG;
    auto Buffer = Microsoft::WRL::Make<Platform::DxgiSurfaceBuffer>(Texture.Get(), uSubresourceIndex);
    if (!Buffer)
        return E_OUTOFMEMORY;
    *ppBuffer = Buffer.Detach();
    return S_OK;
}

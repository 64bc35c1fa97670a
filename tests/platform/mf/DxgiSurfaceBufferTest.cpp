// Media buffers over textures of the software adapter.

#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include <mfapi.h>
#include <wrl/client.h>
#include <wrl/implements.h>

#include "support/Graphics.h"

namespace {

using Graphics::ComPtr;

constexpr UINT Width = 8;
constexpr UINT Height = 4;
constexpr DWORD FrameBytes = Width * 4 * Height;

ComPtr<ID3D11Texture2D> NewTexture(D3D11_USAGE Usage = D3D11_USAGE_DEFAULT,
                                   UINT BindFlags = D3D11_BIND_SHADER_RESOURCE | D3D11_BIND_RENDER_TARGET,
                                   UINT CpuAccess = 0)
{
    D3D11_TEXTURE2D_DESC Description = {};
    Description.Width = Width;
    Description.Height = Height;
    Description.MipLevels = 1;
    Description.ArraySize = 1;
    Description.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
    Description.SampleDesc = {1, 0};
    Description.Usage = Usage;
    Description.BindFlags = BindFlags;
    Description.CPUAccessFlags = CpuAccess;
    ComPtr<ID3D11Texture2D> Texture;
    EXPECT_EQ(Graphics::Shared().m_Device->CreateTexture2D(&Description, nullptr, Texture.GetAddressOf()), S_OK);
    return Texture;
}

// A different value in every byte, from Seed on; written with a source pitch
// wider than a row so that only the rows' pixels may arrive.
std::vector<uint8_t> Fill(ID3D11Texture2D* Texture, uint8_t Seed)
{
    const UINT Pitch = Width * 4 + 12;
    std::vector<uint8_t> Source(Pitch * Height, 0xEE), Pixels;
    for (UINT Y = 0; Y < Height; ++Y)
        for (UINT X = 0; X < Width * 4; ++X)
        {
            Source[Y * Pitch + X] = static_cast<uint8_t>(Seed + Y * Width * 4 + X);
            Pixels.push_back(Source[Y * Pitch + X]);
        }
    Graphics::Shared().m_Context->UpdateSubresource(Texture, 0, nullptr, Source.data(), Pitch, 0);
    return Pixels;
}

// A texture that no device of the platform made: the caller's own.
class ForeignTexture final : public Microsoft::WRL::RuntimeClass<
                                 Microsoft::WRL::RuntimeClassFlags<Microsoft::WRL::ClassicCom>,
                                 Microsoft::WRL::ChainInterfaces<ID3D11Texture2D, ID3D11Resource, ID3D11DeviceChild>>
{
public:
    STDMETHODIMP_(void) GetDevice(ID3D11Device** Device) override { *Device = nullptr; }
    STDMETHODIMP_(void) GetType(D3D11_RESOURCE_DIMENSION* Dimension) override
    {
        *Dimension = D3D11_RESOURCE_DIMENSION_TEXTURE2D;
    }
    STDMETHODIMP_(void) GetDesc(D3D11_TEXTURE2D_DESC* Desc) override
    {
        *Desc = {Width, Height, 1, 1, DXGI_FORMAT_B8G8R8A8_UNORM, {1, 0}, D3D11_USAGE_DEFAULT, D3D11_BIND_RENDER_TARGET,
                 0,     0};
    }
};

std::vector<uint8_t> Locked(IMFMediaBuffer* Buffer)
{
    BYTE* Data = nullptr;
    DWORD Max = 0, Current = 0;
    EXPECT_EQ(Buffer->Lock(&Data, &Max, &Current), S_OK);
    if (!Data)
        return {};
    std::vector<uint8_t> Bytes(Data, Data + Max);
    Buffer->Unlock();
    return Bytes;
}

} // namespace

TEST(DxgiSurfaceBuffer, IsAMediaBufferA2DBufferAndADxgiBufferOverTheTexture)
{
    ComPtr<ID3D11Texture2D> Texture = NewTexture();
    const std::vector<uint8_t> Pixels = Fill(Texture.Get(), 3);
    ComPtr<IMFMediaBuffer> Buffer;
    ASSERT_EQ(MFCreateDXGISurfaceBuffer(__uuidof(ID3D11Texture2D), Texture.Get(), 0, FALSE, Buffer.GetAddressOf()),
              S_OK);
    ComPtr<IMF2DBuffer> Buffer2D;
    ComPtr<IMFDXGIBuffer> Dxgi;
    ASSERT_EQ(Buffer.As(&Buffer2D), S_OK);
    ASSERT_EQ(Buffer.As(&Dxgi), S_OK);

    // Lengths: the whole frame, rows tight; nothing is current yet.
    DWORD Length = 0;
    EXPECT_EQ(Buffer->GetMaxLength(&Length), S_OK);
    EXPECT_EQ(Length, FrameBytes);
    EXPECT_EQ(Buffer2D->GetContiguousLength(&Length), S_OK);
    EXPECT_EQ(Length, FrameBytes);
    EXPECT_EQ(Buffer->GetCurrentLength(&Length), S_OK);
    EXPECT_EQ(Length, 0u);
    EXPECT_EQ(Buffer->SetCurrentLength(FrameBytes + 1), E_INVALIDARG);
    EXPECT_EQ(Buffer->SetCurrentLength(FrameBytes), S_OK);
    BOOL Contiguous = FALSE;
    Buffer2D->IsContiguousFormat(&Contiguous);
    EXPECT_TRUE(Contiguous);

    // Lock reads the texture as it is now, each time.
    BYTE* Data = nullptr;
    DWORD Max = 0, Current = 0;
    ASSERT_EQ(Buffer->Lock(&Data, &Max, &Current), S_OK);
    EXPECT_EQ(Max, FrameBytes);
    EXPECT_EQ(Current, FrameBytes);
    EXPECT_EQ(std::vector<uint8_t>(Data, Data + FrameBytes), Pixels);
    EXPECT_EQ(Buffer->Unlock(), S_OK);
    const std::vector<uint8_t> Later = Fill(Texture.Get(), 101);
    EXPECT_EQ(Locked(Buffer.Get()), Later);

    BYTE* Scanline0 = nullptr;
    LONG Pitch = 0;
    EXPECT_EQ(Buffer2D->GetScanline0AndPitch(&Scanline0, &Pitch), MF_E_INVALIDREQUEST);
    ASSERT_EQ(Buffer2D->Lock2D(&Scanline0, &Pitch), S_OK);
    EXPECT_EQ(Pitch, static_cast<LONG>(Width * 4));
    EXPECT_EQ(std::vector<uint8_t>(Scanline0, Scanline0 + FrameBytes), Later);
    BYTE* Again = nullptr;
    EXPECT_EQ(Buffer2D->GetScanline0AndPitch(&Again, &Pitch), S_OK);
    EXPECT_EQ(Again, Scanline0);
    EXPECT_EQ(Buffer2D->Unlock2D(), S_OK);

    // Copies out and in.
    std::vector<uint8_t> Copy(FrameBytes);
    EXPECT_EQ(Buffer2D->ContiguousCopyTo(Copy.data(), FrameBytes - 1), E_INVALIDARG);
    EXPECT_EQ(Buffer2D->ContiguousCopyTo(Copy.data(), FrameBytes), S_OK);
    EXPECT_EQ(Copy, Later);
    for (uint8_t& Byte : Copy)
        Byte = static_cast<uint8_t>(~Byte);
    EXPECT_EQ(Buffer2D->ContiguousCopyFrom(Copy.data(), FrameBytes), S_OK);
    EXPECT_EQ(Graphics::ReadBack(Graphics::Shared().m_Device.Get(), Graphics::Shared().m_Context.Get(), Texture.Get()),
              Copy);

    // The texture and subresource it stands for.
    ComPtr<ID3D11Texture2D> Resource;
    EXPECT_EQ(Dxgi->GetResource(IID_PPV_ARGS(&Resource)), S_OK);
    EXPECT_EQ(Resource.Get(), Texture.Get());
    ComPtr<IMFSample> NotATexture;
    EXPECT_EQ(Dxgi->GetResource(IID_PPV_ARGS(&NotATexture)), E_NOINTERFACE);
    UINT Subresource = 9;
    EXPECT_EQ(Dxgi->GetSubresourceIndex(&Subresource), S_OK);
    EXPECT_EQ(Subresource, 0u);
}

TEST(DxgiSurfaceBuffer, KeepsObjectsByKeyUntilCleared)
{
    ComPtr<ID3D11Texture2D> Texture = NewTexture();
    ComPtr<IMFMediaBuffer> Buffer;
    ASSERT_EQ(MFCreateDXGISurfaceBuffer(__uuidof(ID3D11Texture2D), Texture.Get(), 0, FALSE, Buffer.GetAddressOf()),
              S_OK);
    ComPtr<IMFDXGIBuffer> Dxgi;
    ASSERT_EQ(Buffer.As(&Dxgi), S_OK);
    const GUID Key = {0x1e0c8f5a, 0x93b2, 0x4c61, {0x8d, 0x0f, 0x5a, 0x27, 0x44, 0xe1, 0x6b, 0x30}};
    ComPtr<IMFAttributes> Object;
    MFCreateAttributes(Object.GetAddressOf(), 1);

    ComPtr<IMFAttributes> Found;
    EXPECT_TRUE(FAILED(Dxgi->GetUnknown(Key, IID_PPV_ARGS(&Found))));
    EXPECT_EQ(Found.Get(), nullptr);
    ASSERT_EQ(Dxgi->SetUnknown(Key, Object.Get()), S_OK);
    EXPECT_EQ(Dxgi->GetUnknown(Key, IID_PPV_ARGS(&Found)), S_OK);
    EXPECT_EQ(Found.Get(), Object.Get());
    Found.Reset();
    ComPtr<IMFSample> WrongType;
    EXPECT_EQ(Dxgi->GetUnknown(Key, IID_PPV_ARGS(&WrongType)), E_NOINTERFACE);

    // The buffer holds a reference until the key is cleared.
    IMFAttributes* const Raw = Object.Get();
    Object.Reset();
    Raw->AddRef();
    EXPECT_EQ(Raw->Release(), 1u);
    ASSERT_EQ(Dxgi->SetUnknown(Key, nullptr), S_OK);
    EXPECT_TRUE(FAILED(Dxgi->GetUnknown(Key, IID_PPV_ARGS(&Found))));
}

TEST(DxgiSurfaceBuffer, RefusesWhatIsNoUsableTextureSubresource)
{
    ComPtr<ID3D11Texture2D> Texture = NewTexture();
    const auto Create = [](REFIID Riid, IUnknown* Surface, UINT Subresource) {
        static int Marker;
        IMFMediaBuffer* Buffer = reinterpret_cast<IMFMediaBuffer*>(&Marker);
        const HRESULT Result = MFCreateDXGISurfaceBuffer(Riid, Surface, Subresource, FALSE, &Buffer);
        EXPECT_EQ(Buffer, nullptr);
        if (Buffer)
            Buffer->Release();
        return Result;
    };
    EXPECT_EQ(Create(__uuidof(ID3D11Device), Texture.Get(), 0), E_INVALIDARG);
    EXPECT_EQ(Create(__uuidof(ID3D11Texture2D), Texture.Get(), 1), E_INVALIDARG);
    EXPECT_EQ(Create(__uuidof(ID3D11Texture2D), NewTexture(D3D11_USAGE_STAGING, 0, D3D11_CPU_ACCESS_READ).Get(), 0),
              E_INVALIDARG);
    ComPtr<IMFAttributes> NotATexture;
    MFCreateAttributes(NotATexture.GetAddressOf(), 1);
    EXPECT_EQ(Create(__uuidof(ID3D11Texture2D), NotATexture.Get(), 0), E_INVALIDARG);
    EXPECT_EQ(Create(__uuidof(ID3D11Texture2D), Microsoft::WRL::Make<ForeignTexture>().Get(), 0), E_INVALIDARG);
    EXPECT_EQ(Create(__uuidof(ID3D11Texture2D), nullptr, 0), E_POINTER);
    EXPECT_EQ(MFCreateDXGISurfaceBuffer(__uuidof(ID3D11Texture2D), Texture.Get(), 0, FALSE, nullptr), E_POINTER);

    // A dynamic texture, as the allocator's count-only form makes, is fine:
    // what the CPU wrote shows through the buffer.
    ComPtr<ID3D11Texture2D> Dynamic = NewTexture(D3D11_USAGE_DYNAMIC, 0, D3D11_CPU_ACCESS_WRITE);
    D3D11_MAPPED_SUBRESOURCE Mapped = {};
    ASSERT_EQ(Graphics::Shared().m_Context->Map(Dynamic.Get(), 0, D3D11_MAP_WRITE_DISCARD, 0, &Mapped), S_OK);
    std::vector<uint8_t> Pixels;
    for (UINT Y = 0; Y < Height; ++Y)
        for (UINT X = 0; X < Width * 4; ++X)
        {
            static_cast<uint8_t*>(Mapped.pData)[Y * Mapped.RowPitch + X] = static_cast<uint8_t>(7 * (Y + X));
            Pixels.push_back(static_cast<uint8_t>(7 * (Y + X)));
        }
    Graphics::Shared().m_Context->Unmap(Dynamic.Get(), 0);
    ComPtr<IMFMediaBuffer> Buffer;
    ASSERT_EQ(MFCreateDXGISurfaceBuffer(__uuidof(ID3D11Texture2D), Dynamic.Get(), 0, FALSE, Buffer.GetAddressOf()),
              S_OK);
    EXPECT_EQ(Locked(Buffer.Get()), Pixels);
}

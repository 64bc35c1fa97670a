#include "Texture2D.h"

#include <cstring>

namespace Platform::D3D11 {

namespace {

// Copies Data, laid out with SourcePitch rows and the planes one after the
// other, into host memory laid out as Layout.
void CopyInitialData(const D3D11_SUBRESOURCE_DATA& Data, const std::vector<PlaneLayout>& Layout, uint8_t* Target)
{
    const uint8_t* Source = static_cast<const uint8_t*>(Data.pSysMem);
    for (const PlaneLayout& Plane : Layout)
    {
        const size_t RowBytes = size_t(Plane.m_Width) * Plane.m_TexelBytes;
        const size_t SourcePitch = Data.SysMemPitch ? Data.SysMemPitch : RowBytes;
        for (uint32_t Row = 0; Row < Plane.m_Height; ++Row)
            std::memcpy(Target + Plane.m_Offset + size_t(Row) * Plane.m_RowPitch, Source + Row * SourcePitch, RowBytes);
        Source += SourcePitch * Plane.m_Height;
    }
}

HRESULT CheckDesc(const D3D11_TEXTURE2D_DESC* Desc, const D3D11_SUBRESOURCE_DATA* InitialData)
{
    const FormatInfo* Format = Desc ? FindFormat(Desc->Format) : nullptr;
    if (!Format || !Format->m_Texture || Desc->Width == 0 || Desc->Height == 0 ||
        Desc->Width > D3D11_REQ_TEXTURE2D_U_OR_V_DIMENSION || Desc->Height > D3D11_REQ_TEXTURE2D_U_OR_V_DIMENSION)
        return E_INVALIDARG;
    if (Format->m_EvenSize && (Desc->Width % 2 != 0 || (Format->m_Planes == 2 && Desc->Height % 2 != 0)))
        return E_INVALIDARG;
    // One mip, one slice, one sample: what this platform's textures are.
    if (!(Desc->MipLevels == 1 || (Desc->MipLevels == 0 && Desc->Width == 1 && Desc->Height == 1)) ||
        Desc->ArraySize != 1 || Desc->SampleDesc.Count != 1 || Desc->SampleDesc.Quality != 0)
        return E_NOTIMPL;
    const UINT KnownBinds = D3D11_BIND_SHADER_RESOURCE | D3D11_BIND_RENDER_TARGET | D3D11_BIND_DECODER |
                            D3D11_BIND_VIDEO_ENCODER | D3D11_BIND_UNORDERED_ACCESS;
    if (Desc->BindFlags & ~KnownBinds)
        return E_INVALIDARG;
    if (InitialData && !InitialData->pSysMem)
        return E_INVALIDARG;
    return CheckUsage(Desc->Usage, Desc->CPUAccessFlags, Desc->BindFlags,
                      D3D11_BIND_RENDER_TARGET | D3D11_BIND_UNORDERED_ACCESS, InitialData);
}

} // namespace

Texture2D::Texture2D(std::shared_ptr<DeviceState> State, const D3D11_TEXTURE2D_DESC& Desc, const FormatInfo& Format)
    : DeviceChild(std::move(State)), m_Desc(Desc), m_Format(Format)
{}

HRESULT Texture2D::Create(const std::shared_ptr<DeviceState>& State, const D3D11_TEXTURE2D_DESC* Desc,
                          const D3D11_SUBRESOURCE_DATA* InitialData, ID3D11Texture2D** Result)
{
    if (Result)
        *Result = nullptr;
    HRESULT Status = CheckDesc(Desc, InitialData);
    if (SUCCEEDED(Status))
        Status = Dxgi::HresultFromVk(State->Vulkan()->RemovedReason());
    if (FAILED(Status))
        return Status;
    D3D11_TEXTURE2D_DESC Effective = *Desc;
    Effective.MipLevels = 1;
    Microsoft::WRL::ComPtr<Texture2D> Created =
        Microsoft::WRL::Make<Texture2D>(State, Effective, *FindFormat(Desc->Format));
    if (!Created)
        return E_OUTOFMEMORY;
    Created->m_Layout = HostLayout(Created->m_Format, Desc->Width, Desc->Height);
    if (Desc->Usage != D3D11_USAGE_STAGING)
        Status = Created->CreateImage(*Desc);
    if (SUCCEEDED(Status) && (Desc->Usage == D3D11_USAGE_STAGING || Desc->Usage == D3D11_USAGE_DYNAMIC))
        Status = Created->CreateHost(*Desc, InitialData);
    if (SUCCEEDED(Status) && Created->m_Image && InitialData)
        Status = Created->Upload(*InitialData);
    if (FAILED(Status))
        return Status;
    return HandOut(Created, Result);
}

HRESULT Texture2D::CreateImage(const D3D11_TEXTURE2D_DESC& Desc)
{
    const Vulkan::Device& Device = *m_State->Vulkan();
    VkImageUsageFlags Usage = VK_IMAGE_USAGE_TRANSFER_SRC_BIT | VK_IMAGE_USAGE_TRANSFER_DST_BIT;
    VkFormatFeatureFlags Features = VK_FORMAT_FEATURE_TRANSFER_SRC_BIT | VK_FORMAT_FEATURE_TRANSFER_DST_BIT;
    if (Desc.BindFlags & D3D11_BIND_RENDER_TARGET)
    {
        Usage |= VK_IMAGE_USAGE_COLOR_ATTACHMENT_BIT;
        Features |= VK_FORMAT_FEATURE_COLOR_ATTACHMENT_BIT;
    }
    if (Desc.BindFlags & D3D11_BIND_UNORDERED_ACCESS)
    {
        Usage |= VK_IMAGE_USAGE_STORAGE_BIT;
        Features |= VK_FORMAT_FEATURE_STORAGE_IMAGE_BIT;
    }
    if (!Device.SupportsFormat(m_Format.m_Vulkan, Features))
        return E_INVALIDARG;
    // Single-plane images that the device can sample are made sampled in any
    // case: the platform's own passes (colour conversion) read them so.
    if (m_Format.m_Planes == 1 && Device.SupportsFormat(m_Format.m_Vulkan, VK_FORMAT_FEATURE_SAMPLED_IMAGE_BIT))
        Usage |= VK_IMAGE_USAGE_SAMPLED_BIT;
    else if (Desc.BindFlags & D3D11_BIND_SHADER_RESOURCE && m_Format.m_Planes == 1)
        return E_INVALIDARG;
    // Where the device's memory is the host's, single-plane images lie where
    // the host reads them: frames reach the encoder without a copy.
    const bool OnHost = Device.HostMemoryOnly() && m_Format.m_Planes == 1 &&
                        Vulkan::Image::CanPlaceOnHost(Device, m_Format.m_Vulkan, Usage);
    return Dxgi::HresultFromVk(
        Vulkan::Image::Create(m_State->Vulkan(), m_Format.m_Vulkan, Desc.Width, Desc.Height, Usage, m_Image,
                              OnHost ? Vulkan::Image::Placement::Host : Vulkan::Image::Placement::Device));
}

HRESULT Texture2D::CreateHost(const D3D11_TEXTURE2D_DESC& Desc, const D3D11_SUBRESOURCE_DATA* InitialData)
{
    const bool Read = (Desc.CPUAccessFlags & D3D11_CPU_ACCESS_READ) != 0;
    const HRESULT Status = Dxgi::HresultFromVk(Vulkan::Buffer::Create(
        m_State->Vulkan(), HostSize(m_Layout), VK_BUFFER_USAGE_TRANSFER_SRC_BIT | VK_BUFFER_USAGE_TRANSFER_DST_BIT,
        Read ? Vulkan::Buffer::Access::HostRead : Vulkan::Buffer::Access::HostWrite, m_Host));
    if (FAILED(Status))
        return Status;
    std::memset(m_Host->Mapped(), 0, m_Host->Size());
    if (InitialData)
        CopyInitialData(*InitialData, m_Layout, m_Host->Mapped());
    m_Host->FlushHostRange();
    return S_OK;
}

HRESULT Texture2D::Upload(const D3D11_SUBRESOURCE_DATA& InitialData)
{
    std::lock_guard Guard(m_State->m_Lock);
    Vulkan::CommandContext& Commands = m_State->m_Commands;
    Vulkan::BufferSlice Source;
    if (m_Host)
        Source = Vulkan::BufferSlice::Whole(m_Host);
    else
    {
        const HRESULT Status = Dxgi::HresultFromVk(Commands.Upload(HostSize(m_Layout), Source));
        if (FAILED(Status))
            return Status;
        CopyInitialData(InitialData, m_Layout, Source.Host());
        Source.m_Buffer->FlushHostRange();
    }
    Commands.CopyPixels(Source, HostPlanes(m_Layout), {}, m_Image, {}, {m_Desc.Width, m_Desc.Height});
    return Dxgi::HresultFromVk(m_State->Vulkan()->RemovedReason());
}

STDMETHODIMP_(void) Texture2D::GetType(D3D11_RESOURCE_DIMENSION* Dimension)
{
    if (Dimension)
        *Dimension = D3D11_RESOURCE_DIMENSION_TEXTURE2D;
}

STDMETHODIMP_(void) Texture2D::GetDesc(D3D11_TEXTURE2D_DESC* Desc)
{
    if (Desc)
        *Desc = m_Desc;
}

} // namespace Platform::D3D11

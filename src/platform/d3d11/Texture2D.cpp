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
            std::memcpy(Target + Plane.m_Offset + size_t(Row) * Plane.m_RowPitch, Source + Row * SourcePitch,
                        RowBytes);
        Source += SourcePitch * Plane.m_Height;
    }
}

std::vector<VkBufferImageCopy> Regions(const std::vector<PlaneLayout>& Layout)
{
    std::vector<VkBufferImageCopy> Result;
    for (const PlaneLayout& Plane : Layout)
    {
        VkBufferImageCopy Region = {};
        Region.bufferOffset = Plane.m_Offset;
        Region.bufferRowLength = Plane.m_RowPitch / Plane.m_TexelBytes;
        Region.imageSubresource = {static_cast<VkImageAspectFlags>(Plane.m_Aspect), 0, 0, 1};
        Region.imageExtent = {Plane.m_Width, Plane.m_Height, 1};
        Result.push_back(Region);
    }
    return Result;
}

} // namespace

Texture2D::Texture2D(std::shared_ptr<DeviceState> State, const D3D11_TEXTURE2D_DESC& Desc, const FormatInfo& Format)
    : DeviceChild(std::move(State)), m_Desc(Desc), m_Format(Format)
{
}

HRESULT Texture2D::Create(const std::shared_ptr<DeviceState>& State, const D3D11_TEXTURE2D_DESC* Desc,
                          const D3D11_SUBRESOURCE_DATA* InitialData, ID3D11Texture2D** Result)
{
    if (Result)
        *Result = nullptr;
    if (!Desc)
        return E_INVALIDARG;
    const FormatInfo* Format = FindFormat(Desc->Format);
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
    const UINT CpuAccess = Desc->CPUAccessFlags & (D3D11_CPU_ACCESS_READ | D3D11_CPU_ACCESS_WRITE);
    switch (Desc->Usage)
    {
    case D3D11_USAGE_DEFAULT:
        if (CpuAccess)
            return E_INVALIDARG;
        break;
    case D3D11_USAGE_IMMUTABLE:
        if (CpuAccess || !InitialData || !InitialData->pSysMem)
            return E_INVALIDARG;
        break;
    case D3D11_USAGE_DYNAMIC:
        if (CpuAccess != D3D11_CPU_ACCESS_WRITE || (Desc->BindFlags & (D3D11_BIND_RENDER_TARGET | D3D11_BIND_UNORDERED_ACCESS)))
            return E_INVALIDARG;
        break;
    case D3D11_USAGE_STAGING:
        if (!CpuAccess || Desc->BindFlags)
            return E_INVALIDARG;
        break;
    default:
        return E_INVALIDARG;
    }
    if (InitialData && !InitialData->pSysMem)
        return E_INVALIDARG;

    const Vulkan::Device& Device = *State->Vulkan();
    HRESULT Status = Device.RemovedReason();
    if (FAILED(Status))
        return Status;
    D3D11_TEXTURE2D_DESC Effective = *Desc;
    Effective.MipLevels = 1;
    Microsoft::WRL::ComPtr<Texture2D> Created = Microsoft::WRL::Make<Texture2D>(State, Effective, *Format);
    if (!Created)
        return E_OUTOFMEMORY;
    Created->m_Layout = HostLayout(*Format, Desc->Width, Desc->Height);

    if (Desc->Usage != D3D11_USAGE_STAGING)
    {
        VkImageUsageFlags Usage = VK_IMAGE_USAGE_TRANSFER_SRC_BIT | VK_IMAGE_USAGE_TRANSFER_DST_BIT;
        VkFormatFeatureFlags Features = VK_FORMAT_FEATURE_TRANSFER_SRC_BIT | VK_FORMAT_FEATURE_TRANSFER_DST_BIT;
        if (Desc->BindFlags & D3D11_BIND_RENDER_TARGET)
        {
            Usage |= VK_IMAGE_USAGE_COLOR_ATTACHMENT_BIT;
            Features |= VK_FORMAT_FEATURE_COLOR_ATTACHMENT_BIT;
        }
        if ((Desc->BindFlags & D3D11_BIND_SHADER_RESOURCE) && Format->m_Planes == 1)
        {
            Usage |= VK_IMAGE_USAGE_SAMPLED_BIT;
            Features |= VK_FORMAT_FEATURE_SAMPLED_IMAGE_BIT;
        }
        if (Desc->BindFlags & D3D11_BIND_UNORDERED_ACCESS)
        {
            Usage |= VK_IMAGE_USAGE_STORAGE_BIT;
            Features |= VK_FORMAT_FEATURE_STORAGE_IMAGE_BIT;
        }
        if (!Device.SupportsFormat(Format->m_Vulkan, Features))
            return E_INVALIDARG;
        Status = Vulkan::Image::Create(State->Vulkan(), Format->m_Vulkan, Desc->Width, Desc->Height, Usage,
                                       Created->m_Image);
        if (FAILED(Status))
            return Status;
    }
    if (Desc->Usage == D3D11_USAGE_STAGING || Desc->Usage == D3D11_USAGE_DYNAMIC)
    {
        const bool Read = (CpuAccess & D3D11_CPU_ACCESS_READ) != 0;
        Status = Vulkan::Buffer::Create(State->Vulkan(), HostSize(Created->m_Layout),
                                        VK_BUFFER_USAGE_TRANSFER_SRC_BIT | VK_BUFFER_USAGE_TRANSFER_DST_BIT,
                                        Read ? Vulkan::Buffer::Access::HostRead : Vulkan::Buffer::Access::HostWrite,
                                        Created->m_Host);
        if (FAILED(Status))
            return Status;
        std::memset(Created->m_Host->Mapped(), 0, Created->m_Host->Size());
        if (InitialData)
            CopyInitialData(*InitialData, Created->m_Layout, Created->m_Host->Mapped());
        Created->m_Host->FlushHostRange();
    }

    if (Created->m_Image)
    {
        std::lock_guard Guard(State->m_Lock);
        State->InitializeImage(Created->m_Image);
        if (InitialData)
        {
            std::shared_ptr<Vulkan::Buffer> Upload = Created->m_Host;
            if (!Upload)
            {
                Status = Vulkan::Buffer::Create(State->Vulkan(), HostSize(Created->m_Layout),
                                                VK_BUFFER_USAGE_TRANSFER_SRC_BIT, Vulkan::Buffer::Access::HostWrite,
                                                Upload);
                if (FAILED(Status))
                    return Status;
                CopyInitialData(*InitialData, Created->m_Layout, Upload->Mapped());
                Upload->FlushHostRange();
            }
            if (VkCommandBuffer Commands = State->BeginOperation())
            {
                Created->RecordCopyFromHost(Commands, *Upload, Created->m_Layout);
                State->Use(Upload);
                State->Use(Created->m_Image);
            }
        }
        State->OperationDone();
        Status = Device.RemovedReason();
        if (FAILED(Status))
            return Status;
    }
    if (Result)
        *Result = Created.Detach();
    return Result ? S_OK : S_FALSE;
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

void Texture2D::RecordCopyToHost(VkCommandBuffer Commands, Vulkan::Buffer& Destination,
                                 const std::vector<PlaneLayout>& Layout) const
{
    const std::vector<VkBufferImageCopy> Copies = Regions(Layout);
    vkCmdCopyImageToBuffer(Commands, m_Image->Handle(), VK_IMAGE_LAYOUT_GENERAL, Destination.Handle(),
                           static_cast<uint32_t>(Copies.size()), Copies.data());
}

void Texture2D::RecordCopyFromHost(VkCommandBuffer Commands, Vulkan::Buffer& Source,
                                   const std::vector<PlaneLayout>& Layout) const
{
    const std::vector<VkBufferImageCopy> Copies = Regions(Layout);
    vkCmdCopyBufferToImage(Commands, Source.Handle(), m_Image->Handle(), VK_IMAGE_LAYOUT_GENERAL,
                           static_cast<uint32_t>(Copies.size()), Copies.data());
}

} // namespace Platform::D3D11

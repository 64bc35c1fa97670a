#include "D3D11/Readback.h"

#include <utility>

#include "Com/Implementation.h"
#include "Texture2D.h"

namespace Platform::D3D11 {

namespace {

// Rows of converted planes start at whole cache lines.
constexpr uint32_t ConvertedRowAlignment = 64;

std::vector<PlaneLayout> Nv12Layout(uint32_t Width, uint32_t Height)
{
    const uint32_t Pitch = (Width + ConvertedRowAlignment - 1) / ConvertedRowAlignment * ConvertedRowAlignment;
    return {{Width, Height, 1, 0, Pitch}, {Width / 2, Height / 2, 2, uint64_t(Pitch) * Height, Pitch}};
}

} // namespace

std::vector<PlaneLayout> HostLayoutOf(ID3D11Texture2D* Texture)
{
    const Texture2D* Source = ImplementationOf<Texture2D>(Texture);
    return Source ? HostLayout(Source->Format(), Source->Desc().Width, Source->Desc().Height)
                  : std::vector<PlaneLayout>();
}

TextureReadback::TextureReadback() = default;
TextureReadback::~TextureReadback() = default;

const uint8_t* TextureReadback::Data() const
{
    return m_InPlace ? m_InPlace->Mapped() : m_Buffer ? m_Buffer->Mapped() : nullptr;
}

bool TextureReadback::Converts(ID3D11Texture2D* Texture)
{
    const Texture2D* Source = ImplementationOf<Texture2D>(Texture);
    return Source && Source->m_Image && Vulkan::CommandContext::ConvertsToNv12(Source->Format().m_Vulkan) &&
           (Source->m_Image->Usage() & VK_IMAGE_USAGE_SAMPLED_BIT) && Source->Desc().Width % 2 == 0 &&
           Source->Desc().Height % 2 == 0;
}

bool TextureReadback::ReadsInPlace(ID3D11Texture2D* Texture)
{
    const Texture2D* Source = ImplementationOf<Texture2D>(Texture);
    return Source && Source->m_Image && Source->m_Image->Mapped();
}

HRESULT TextureReadback::Read(ID3D11Texture2D* Texture, Output Format)
{
    const HRESULT Result = Begin(Texture, Format);
    return FAILED(Result) ? Result : Finish();
}

HRESULT TextureReadback::PrepareBuffer(const std::shared_ptr<DeviceState>& State, uint64_t Size)
{
    if (m_State == State && m_Buffer && m_Buffer->Size() >= Size)
        return S_OK;
    m_Buffer.reset();
    const HRESULT Status = Dxgi::HresultFromVk(Vulkan::Buffer::Create(
        State->Vulkan(), Size, VK_BUFFER_USAGE_TRANSFER_DST_BIT | VK_BUFFER_USAGE_STORAGE_BUFFER_BIT,
        Vulkan::Buffer::Access::HostRead, m_Buffer));
    if (SUCCEEDED(Status))
        m_State = State;
    return Status;
}

HRESULT TextureReadback::Begin(ID3D11Texture2D* Texture, Output Format)
{
    Texture2D* Object = ImplementationOf<Texture2D>(Texture);
    if (!Object || !Object->m_Image || (Format == Output::Nv12 && !Converts(Texture)) ||
        (Format == Output::InPlace && !ReadsInPlace(Texture)))
        return E_INVALIDARG;
    Texture2D& Source = *Object;
    const std::shared_ptr<DeviceState>& State = Source.State();
    const uint32_t Width = Source.Desc().Width, Height = Source.Desc().Height;
    m_InPlace.reset();
    if (Format == Output::InPlace)
        return BeginInPlace(Source);
    std::vector<PlaneLayout> Layout =
        Format == Output::Nv12 ? Nv12Layout(Width, Height) : HostLayout(Source.Format(), Width, Height);
    HRESULT Status = PrepareBuffer(State, HostSize(Layout));
    if (FAILED(Status))
        return Status;
    m_Layout = std::move(Layout);

    std::lock_guard Guard(State->m_Lock);
    Vulkan::CommandContext& Commands = State->m_Commands;
    const Vulkan::BufferSlice Target = Vulkan::BufferSlice::Whole(m_Buffer);
    if (Format == Output::Nv12)
    {
        const Vulkan::Nv12Planes Planes = {
            Width, Height, m_Layout[0].m_Offset, m_Layout[0].m_RowPitch, m_Layout[1].m_Offset, m_Layout[1].m_RowPitch};
        Status = Dxgi::HresultFromVk(Commands.ConvertToNv12(Source.m_Image, Target, Planes));
        if (FAILED(Status))
            return Status;
        m_BytesRead = uint64_t(Width) * Height * 3 / 2;
    }
    else
    {
        Commands.CopyPixels(Source.m_Image, {}, Target, HostPlanes(m_Layout), {}, {Width, Height});
        m_BytesRead = 0;
        for (const PlaneLayout& Plane : m_Layout)
            m_BytesRead += uint64_t(Plane.m_Width) * Plane.m_Height * Plane.m_TexelBytes;
    }
    Commands.PrepareHostRead(m_Buffer);
    return Dxgi::HresultFromVk(Commands.SubmitUses(*m_Buffer, m_Pending));
}

HRESULT TextureReadback::BeginInPlace(Texture2D& Source)
{
    const std::shared_ptr<Vulkan::Image>& Image = Source.m_Image;
    m_Layout = {{Source.Desc().Width, Source.Desc().Height, Source.Format().m_TexelBytes, 0,
                 static_cast<uint32_t>(Image->RowPitch())}};
    m_BytesRead = 0;
    m_State = Source.State();
    std::lock_guard Guard(m_State->m_Lock);
    m_State->m_Commands.PrepareHostRead(Image);
    m_InPlace = Image;
    return Dxgi::HresultFromVk(m_State->m_Commands.SubmitUses(*Image, m_Pending));
}

HRESULT TextureReadback::Finish()
{
    if (!m_Pending || !m_State)
        return E_UNEXPECTED;
    const HRESULT Waited = Dxgi::HresultFromVk(m_State->m_Commands.Wait(std::exchange(m_Pending, 0)));
    if (FAILED(Waited))
        return Waited;
    if (m_InPlace)
        m_InPlace->InvalidateHostRange();
    else
        m_Buffer->InvalidateHostRange();
    return S_OK;
}

} // namespace Platform::D3D11

#include "Readback.h"

#include <utility>

#include "Texture2D.h"

namespace Platform::D3D11 {

TextureReadback::TextureReadback() = default;
TextureReadback::~TextureReadback() = default;

const uint8_t* TextureReadback::Data() const { return m_Buffer ? m_Buffer->Mapped() : nullptr; }

HRESULT TextureReadback::Read(ID3D11Texture2D* Texture)
{
    const HRESULT Result = Begin(Texture);
    return FAILED(Result) ? Result : Finish();
}

HRESULT TextureReadback::Begin(ID3D11Texture2D* Texture)
{
    if (!Texture)
        return E_INVALIDARG;
    Texture2D& Source = *static_cast<Texture2D*>(Texture);
    if (!Source.m_Image)
        return E_INVALIDARG;
    const std::shared_ptr<DeviceState>& State = Source.State();
    std::vector<PlaneLayout> Layout = HostLayout(Source.Format(), Source.Desc().Width, Source.Desc().Height);
    const uint64_t Size = HostSize(Layout);
    if (m_State != State || !m_Buffer || m_Buffer->Size() < Size)
    {
        m_Buffer.reset();
        const HRESULT Status = Vulkan::Buffer::Create(State->Vulkan(), Size, VK_BUFFER_USAGE_TRANSFER_DST_BIT,
                                                      Vulkan::Buffer::Access::HostRead, m_Buffer);
        if (FAILED(Status))
            return Status;
        m_State = State;
    }
    m_Layout = std::move(Layout);

    uint64_t Value = 0;
    {
        std::lock_guard Guard(State->m_Lock);
        const VkCommandBuffer Commands = State->BeginOperation();
        if (!Commands)
            return State->Vulkan()->RemovedReason();
        State->ResolveClear(Commands, *Source.m_Image);
        Source.RecordCopyToHost(Commands, *m_Buffer, m_Layout);
        State->Use(Source.m_Image);
        State->Use(m_Buffer);
        Value = m_Buffer->m_LastUse;
        const HRESULT Submitted = State->SubmitUpTo(Value, false);
        if (FAILED(Submitted))
            return Submitted;
    }
    m_Pending = Value;
    return S_OK;
}

HRESULT TextureReadback::Finish()
{
    if (!m_Pending || !m_State)
        return E_UNEXPECTED;
    const HRESULT Waited = m_State->m_Stream.Wait(std::exchange(m_Pending, 0));
    if (FAILED(Waited))
        return Waited;
    m_Buffer->InvalidateHostRange();
    return S_OK;
}

} // namespace Platform::D3D11

#include "D3D11/FrameExport.h"

#include <algorithm>

#include "Com/Implementation.h"
#include "D3D11/Readback.h"
#include "Device.h"
#include "Texture2D.h"

namespace Platform::D3D11 {

FrameExport::~FrameExport()
{
    if (!m_State)
        return;
    // The frames go only after the device has finished with them.
    std::lock_guard Guard(m_State->m_Lock);
    for (const std::shared_ptr<Vulkan::Buffer>& Frame : m_Frames)
        m_State->m_Commands.WaitForHostAccess(*Frame);
}

HRESULT FrameExport::Create(ID3D11Device* Device, uint32_t Width, uint32_t Height, uint32_t Pitch, size_t Count,
                            std::unique_ptr<FrameExport>& Result)
{
    const D3D11::Device* Object = ImplementationOf<D3D11::Device>(Device);
    if (!Object || Width == 0 || Height == 0 || Width % 2 || Height % 2 || Pitch < Width || Pitch % 4 || Count == 0)
        return E_INVALIDARG;
    std::unique_ptr<FrameExport> Created(new (std::nothrow) FrameExport());
    if (!Created)
        return E_OUTOFMEMORY;
    Created->m_State = Object->State();
    Created->m_Width = Width;
    Created->m_Height = Height;
    Created->m_Pitch = Pitch;
    const std::shared_ptr<Vulkan::Device>& Vulkan = Created->m_State->Vulkan();
    std::copy(Vulkan->Adapter().m_Uuid.begin(), Vulkan->Adapter().m_Uuid.end(), Created->m_Uuid.begin());
    for (size_t Index = 0; Index < Count; ++Index)
    {
        std::shared_ptr<Vulkan::Buffer> Frame;
        const HRESULT Status = Dxgi::HresultFromExport(Vulkan::Buffer::Create(
            Vulkan, Created->FrameSize(), VK_BUFFER_USAGE_STORAGE_BUFFER_BIT, Vulkan::Buffer::Access::Exported, Frame));
        if (FAILED(Status))
            return Status;
        Created->m_Frames.push_back(std::move(Frame));
    }
    Result = std::move(Created);
    return S_OK;
}

HRESULT FrameExport::ExportMemory(size_t Index, ExportedMemory& Memory) const
{
    if (Index >= m_Frames.size())
        return E_INVALIDARG;
    const Vulkan::Buffer& Frame = *m_Frames[Index];
    Memory = {};
    const HRESULT Status = Dxgi::HresultFromExport(Frame.ExportMemory(Memory.m_Descriptor));
    if (FAILED(Status))
        return Status;
    Memory.m_AllocationSize = Frame.AllocationSize();
    Memory.m_Dedicated = Frame.Dedicated();
    return S_OK;
}

HRESULT FrameExport::ExportTimeline(int& Descriptor) const
{
    std::lock_guard Guard(m_State->m_Lock);
    return Dxgi::HresultFromExport(m_State->m_Commands.ExportTimeline(Descriptor));
}

HRESULT FrameExport::Convert(ID3D11Texture2D* Texture, size_t Index, uint64_t& Value)
{
    Texture2D* Source = ImplementationOf<Texture2D>(Texture);
    if (Index >= m_Frames.size() || !Source || Source->State() != m_State || !TextureReadback::Converts(Texture) ||
        Source->Desc().Width != m_Width || Source->Desc().Height != m_Height)
        return E_INVALIDARG;
    const std::shared_ptr<Vulkan::Buffer>& Frame = m_Frames[Index];
    std::lock_guard Guard(m_State->m_Lock);
    Vulkan::CommandContext& Commands = m_State->m_Commands;
    const Vulkan::Nv12Planes Planes = {m_Width, m_Height, 0, m_Pitch, uint64_t(m_Pitch) * m_Height, m_Pitch};
    Commands.AcquireFromExternal(Frame);
    const HRESULT Status =
        Dxgi::HresultFromVk(Commands.ConvertToNv12(Source->m_Image, Vulkan::BufferSlice::Whole(Frame), Planes));
    if (FAILED(Status))
        return Status;
    Commands.ReleaseToExternal(Frame);
    return Dxgi::HresultFromVk(Commands.SubmitUses(*Frame, Value));
}

HRESULT FrameExport::Wait(uint64_t Value) const { return Dxgi::HresultFromVk(m_State->m_Commands.Wait(Value)); }

} // namespace Platform::D3D11

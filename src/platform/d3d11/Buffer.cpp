#include "Buffer.h"

#include <cstring>

namespace Platform::D3D11 {

Buffer::Buffer(std::shared_ptr<DeviceState> State, const D3D11_BUFFER_DESC& Desc)
    : DeviceChild(std::move(State)), m_Desc(Desc)
{
}

HRESULT Buffer::Create(const std::shared_ptr<DeviceState>& State, const D3D11_BUFFER_DESC* Desc,
                       const D3D11_SUBRESOURCE_DATA* InitialData, ID3D11Buffer** Result)
{
    if (Result)
        *Result = nullptr;
    if (!Desc || Desc->ByteWidth == 0 || (InitialData && !InitialData->pSysMem))
        return E_INVALIDARG;
    const UINT KnownBinds = D3D11_BIND_VERTEX_BUFFER | D3D11_BIND_INDEX_BUFFER | D3D11_BIND_CONSTANT_BUFFER |
                            D3D11_BIND_SHADER_RESOURCE | D3D11_BIND_UNORDERED_ACCESS;
    if (Desc->BindFlags & ~KnownBinds)
        return E_INVALIDARG;
    // Constant buffers stand alone, in whole 16-byte registers, 4,096 at most.
    if ((Desc->BindFlags & D3D11_BIND_CONSTANT_BUFFER) &&
        (Desc->BindFlags != D3D11_BIND_CONSTANT_BUFFER || Desc->ByteWidth % 16 != 0 ||
         Desc->ByteWidth > 16 * D3D11_REQ_CONSTANT_BUFFER_ELEMENT_COUNT))
        return E_INVALIDARG;
    const UINT CpuAccess = Desc->CPUAccessFlags & (D3D11_CPU_ACCESS_READ | D3D11_CPU_ACCESS_WRITE);
    Vulkan::Buffer::Access Access = Vulkan::Buffer::Access::Device;
    switch (Desc->Usage)
    {
    case D3D11_USAGE_DEFAULT:
        if (CpuAccess)
            return E_INVALIDARG;
        break;
    case D3D11_USAGE_IMMUTABLE:
        if (CpuAccess || !InitialData)
            return E_INVALIDARG;
        break;
    case D3D11_USAGE_DYNAMIC:
        if (CpuAccess != D3D11_CPU_ACCESS_WRITE)
            return E_INVALIDARG;
        Access = Vulkan::Buffer::Access::HostWrite;
        break;
    case D3D11_USAGE_STAGING:
        if (!CpuAccess || Desc->BindFlags)
            return E_INVALIDARG;
        Access = (CpuAccess & D3D11_CPU_ACCESS_READ) ? Vulkan::Buffer::Access::HostRead
                                                     : Vulkan::Buffer::Access::HostWrite;
        break;
    default:
        return E_INVALIDARG;
    }
    HRESULT Status = State->Vulkan()->RemovedReason();
    if (FAILED(Status))
        return Status;

    VkBufferUsageFlags Usage = VK_BUFFER_USAGE_TRANSFER_SRC_BIT | VK_BUFFER_USAGE_TRANSFER_DST_BIT;
    if (Desc->BindFlags & D3D11_BIND_VERTEX_BUFFER)
        Usage |= VK_BUFFER_USAGE_VERTEX_BUFFER_BIT;
    if (Desc->BindFlags & D3D11_BIND_INDEX_BUFFER)
        Usage |= VK_BUFFER_USAGE_INDEX_BUFFER_BIT;
    if (Desc->BindFlags & D3D11_BIND_CONSTANT_BUFFER)
        Usage |= VK_BUFFER_USAGE_UNIFORM_BUFFER_BIT;
    if (Desc->BindFlags & (D3D11_BIND_SHADER_RESOURCE | D3D11_BIND_UNORDERED_ACCESS))
        Usage |= VK_BUFFER_USAGE_STORAGE_BUFFER_BIT;

    Microsoft::WRL::ComPtr<Buffer> Created = Microsoft::WRL::Make<Buffer>(State, *Desc);
    if (!Created)
        return E_OUTOFMEMORY;
    Status = Vulkan::Buffer::Create(State->Vulkan(), Desc->ByteWidth, Usage, Access, Created->m_Buffer);
    if (FAILED(Status))
        return Status;

    if (Access != Vulkan::Buffer::Access::Device)
    {
        if (InitialData)
            std::memcpy(Created->m_Buffer->Mapped(), InitialData->pSysMem, Desc->ByteWidth);
        else
            std::memset(Created->m_Buffer->Mapped(), 0, Desc->ByteWidth);
        Created->m_Buffer->FlushHostRange();
    }
    else
    {
        // Device memory starts as zeros or the initial data, copied in on the
        // device ahead of any later use.
        std::shared_ptr<Vulkan::Buffer> Upload;
        if (InitialData)
        {
            Status = Vulkan::Buffer::Create(State->Vulkan(), Desc->ByteWidth, VK_BUFFER_USAGE_TRANSFER_SRC_BIT,
                                            Vulkan::Buffer::Access::HostWrite, Upload);
            if (FAILED(Status))
                return Status;
            std::memcpy(Upload->Mapped(), InitialData->pSysMem, Desc->ByteWidth);
            Upload->FlushHostRange();
        }
        std::lock_guard Guard(State->m_Lock);
        if (VkCommandBuffer Commands = State->BeginOperation())
        {
            if (Upload)
            {
                const VkBufferCopy Region = {0, 0, Desc->ByteWidth};
                vkCmdCopyBuffer(Commands, Upload->Handle(), Created->m_Buffer->Handle(), 1, &Region);
                State->Use(Upload);
            }
            else
                vkCmdFillBuffer(Commands, Created->m_Buffer->Handle(), 0, VK_WHOLE_SIZE, 0);
            State->Use(Created->m_Buffer);
        }
        State->OperationDone();
        Status = State->Vulkan()->RemovedReason();
        if (FAILED(Status))
            return Status;
    }
    if (Result)
        *Result = Created.Detach();
    return Result ? S_OK : S_FALSE;
}

STDMETHODIMP_(void) Buffer::GetType(D3D11_RESOURCE_DIMENSION* Dimension)
{
    if (Dimension)
        *Dimension = D3D11_RESOURCE_DIMENSION_BUFFER;
}

STDMETHODIMP_(void) Buffer::GetDesc(D3D11_BUFFER_DESC* Desc)
{
    if (Desc)
        *Desc = m_Desc;
}

} // namespace Platform::D3D11

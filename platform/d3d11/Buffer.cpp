#include "Buffer.h"

#include <cstring>

namespace Platform::D3D11 {

namespace {

// Updates up to this size are renamed into the upload ring; larger ones are
// copied into the buffer's own memory on the device.
constexpr UINT RenameLimit = 65536;

HRESULT CheckDesc(const D3D11_BUFFER_DESC& Desc, const D3D11_SUBRESOURCE_DATA* InitialData,
                  Vulkan::Buffer::Access& Access)
{
    if (Desc.ByteWidth == 0 || (InitialData && !InitialData->pSysMem))
        return E_INVALIDARG;
    const UINT KnownBinds = D3D11_BIND_VERTEX_BUFFER | D3D11_BIND_INDEX_BUFFER | D3D11_BIND_CONSTANT_BUFFER |
                            D3D11_BIND_SHADER_RESOURCE | D3D11_BIND_UNORDERED_ACCESS;
    if (Desc.BindFlags & ~KnownBinds)
        return E_INVALIDARG;
    // Constant buffers stand alone, in whole 16-byte registers, 4,096 at most.
    if ((Desc.BindFlags & D3D11_BIND_CONSTANT_BUFFER) &&
        (Desc.BindFlags != D3D11_BIND_CONSTANT_BUFFER || Desc.ByteWidth % 16 != 0 ||
         Desc.ByteWidth > 16 * D3D11_REQ_CONSTANT_BUFFER_ELEMENT_COUNT))
        return E_INVALIDARG;
    // Where the buffer's memory lies: the device's, or the host's for what
    // the CPU writes (dynamic, staging) or reads (staging).
    Access = Desc.Usage == D3D11_USAGE_DYNAMIC               ? Vulkan::Buffer::Access::HostWrite
             : Desc.Usage != D3D11_USAGE_STAGING             ? Vulkan::Buffer::Access::Device
             : (Desc.CPUAccessFlags & D3D11_CPU_ACCESS_READ) ? Vulkan::Buffer::Access::HostRead
                                                             : Vulkan::Buffer::Access::HostWrite;
    return CheckUsage(Desc.Usage, Desc.CPUAccessFlags, Desc.BindFlags, 0, InitialData);
}

VkBufferUsageFlags UsageOf(UINT BindFlags)
{
    VkBufferUsageFlags Usage = VK_BUFFER_USAGE_TRANSFER_SRC_BIT | VK_BUFFER_USAGE_TRANSFER_DST_BIT;
    if (BindFlags & D3D11_BIND_VERTEX_BUFFER)
        Usage |= VK_BUFFER_USAGE_VERTEX_BUFFER_BIT;
    if (BindFlags & D3D11_BIND_INDEX_BUFFER)
        Usage |= VK_BUFFER_USAGE_INDEX_BUFFER_BIT;
    if (BindFlags & D3D11_BIND_CONSTANT_BUFFER)
        Usage |= VK_BUFFER_USAGE_UNIFORM_BUFFER_BIT;
    if (BindFlags & (D3D11_BIND_SHADER_RESOURCE | D3D11_BIND_UNORDERED_ACCESS))
        Usage |= VK_BUFFER_USAGE_STORAGE_BUFFER_BIT;
    return Usage;
}

} // namespace

Buffer::Buffer(std::shared_ptr<DeviceState> State, const D3D11_BUFFER_DESC& Desc)
    : DeviceChild(std::move(State)), m_Desc(Desc)
{}

HRESULT Buffer::Create(const std::shared_ptr<DeviceState>& State, const D3D11_BUFFER_DESC* Desc,
                       const D3D11_SUBRESOURCE_DATA* InitialData, ID3D11Buffer** Result)
{
    if (Result)
        *Result = nullptr;
    if (!Desc)
        return E_INVALIDARG;
    Vulkan::Buffer::Access Access = Vulkan::Buffer::Access::Device;
    HRESULT Status = CheckDesc(*Desc, InitialData, Access);
    if (SUCCEEDED(Status))
        Status = Dxgi::HresultFromVk(State->Vulkan()->RemovedReason());
    if (FAILED(Status))
        return Status;
    Microsoft::WRL::ComPtr<Buffer> Created = Microsoft::WRL::Make<Buffer>(State, *Desc);
    if (!Created)
        return E_OUTOFMEMORY;
    Status = Dxgi::HresultFromVk(
        Vulkan::Buffer::Create(State->Vulkan(), Desc->ByteWidth, UsageOf(Desc->BindFlags), Access, Created->m_Own));
    if (SUCCEEDED(Status))
        Status = Created->Initialize(InitialData);
    if (FAILED(Status))
        return Status;
    return HandOut(Created, Result);
}

HRESULT Buffer::Initialize(const D3D11_SUBRESOURCE_DATA* InitialData)
{
    m_Storage = Vulkan::BufferSlice::Whole(m_Own);
    m_Storage.m_Size = m_Desc.ByteWidth;
    if (uint8_t* Host = m_Storage.Host())
    {
        if (InitialData)
            std::memcpy(Host, InitialData->pSysMem, m_Desc.ByteWidth);
        else
            std::memset(Host, 0, m_Desc.ByteWidth);
        m_Own->FlushHostRange();
        return S_OK;
    }
    // Device memory starts as zeros or the initial data, copied in on the
    // device ahead of any later use.
    std::lock_guard Guard(m_State->m_Lock);
    if (!InitialData)
        m_State->m_Commands.FillBuffer(Vulkan::BufferSlice::Whole(m_Own), 0);
    else
        Update(0, m_Desc.ByteWidth, InitialData->pSysMem);
    return Dxgi::HresultFromVk(m_State->Vulkan()->RemovedReason());
}

void Buffer::Update(UINT Left, UINT Right, const void* Data)
{
    Vulkan::CommandContext& Commands = m_State->m_Commands;
    const bool Whole = Left == 0 && Right == m_Desc.ByteWidth;
    const bool Renamed = m_Storage.m_Buffer != m_Own;
    Vulkan::BufferSlice Fresh;
    if (m_Desc.Usage == D3D11_USAGE_DEFAULT && m_Desc.ByteWidth <= RenameLimit && (Whole || Renamed) &&
        Commands.Upload(m_Desc.ByteWidth, Fresh) == VK_SUCCESS)
    {
        // The new range takes the old contents around the update.
        if (!Whole)
            std::memcpy(Fresh.Host(), m_Storage.Host(), m_Desc.ByteWidth);
        std::memcpy(Fresh.Host() + Left, Data, Right - Left);
        Fresh.m_Buffer->FlushHostRange();
        m_Storage = std::move(Fresh);
        return;
    }
    Vulkan::BufferSlice Upload;
    if (Commands.Upload(Right - Left, Upload) != VK_SUCCESS)
        return;
    std::memcpy(Upload.Host(), Data, Right - Left);
    Upload.m_Buffer->FlushHostRange();
    PrepareDeviceWrite(Whole);
    const VkBufferCopy Region = {0, Left, Right - Left};
    Commands.CopyBuffer(Upload, m_Storage, {&Region, 1});
}

uint8_t* Buffer::Discard()
{
    Vulkan::BufferSlice Fresh;
    if (m_State->m_Commands.Upload(m_Desc.ByteWidth, Fresh) != VK_SUCCESS)
        return nullptr;
    m_Storage = std::move(Fresh);
    return m_Storage.Host();
}

void Buffer::PrepareDeviceWrite(bool Whole)
{
    if (m_Storage.m_Buffer == m_Own)
        return;
    Vulkan::BufferSlice Own = Vulkan::BufferSlice::Whole(m_Own);
    Own.m_Size = m_Desc.ByteWidth;
    if (!Whole)
    {
        const VkBufferCopy Region = {0, 0, m_Desc.ByteWidth};
        m_State->m_Commands.CopyBuffer(m_Storage, Own, {&Region, 1});
    }
    m_Storage = std::move(Own);
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

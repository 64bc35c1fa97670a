#include "DeviceState.h"
#include "../vulkan/Structure.h"

namespace Platform::D3D11 {

namespace {

// Operations recorded before the stream submits by itself.
constexpr uint32_t OperationsPerBatch = 16;
constexpr VkDeviceSize ZeroBufferSize = 65536;

} // namespace

DeviceState::DeviceState(std::shared_ptr<Vulkan::Device> Device)
    : m_Stream(Device), m_Pipelines(Device), m_Vulkan(std::move(Device))
{
}

HRESULT DeviceState::Create(std::shared_ptr<Vulkan::Device> Device, D3D_FEATURE_LEVEL FeatureLevel, UINT Flags,
                            std::shared_ptr<DeviceState>& Result)
{
    std::shared_ptr<DeviceState> Created(new (std::nothrow) DeviceState(std::move(Device)));
    if (!Created)
        return E_OUTOFMEMORY;
    Created->m_FeatureLevel = FeatureLevel;
    Created->m_CreationFlags = Flags;
    HRESULT Status = Created->m_Stream.Initialize();
    if (SUCCEEDED(Status))
        Status = Created->m_Pipelines.Initialize();
    if (SUCCEEDED(Status))
        Status = Vulkan::Buffer::Create(Created->m_Vulkan, ZeroBufferSize,
                                        VK_BUFFER_USAGE_UNIFORM_BUFFER_BIT | VK_BUFFER_USAGE_VERTEX_BUFFER_BIT,
                                        Vulkan::Buffer::Access::HostWrite, Created->m_ZeroBuffer);
    if (FAILED(Status))
        return Status;
    std::memset(Created->m_ZeroBuffer->Mapped(), 0, ZeroBufferSize);
    Created->m_ZeroBuffer->FlushHostRange();
    Result = std::move(Created);
    return S_OK;
}

DeviceState::~DeviceState()
{
    std::lock_guard Guard(m_Lock);
    EndRenderPass();
    m_Stream.Submit();
    m_Stream.WaitIdle();
}

void DeviceState::SetFront(ID3D11Device* Device)
{
    std::lock_guard Guard(m_Lock);
    m_Front = Device;
}

void DeviceState::GetDevice(ID3D11Device** Device)
{
    if (!Device)
        return;
    std::lock_guard Guard(m_Lock);
    *Device = m_Front;
    if (m_Front)
        m_Front->AddRef();
}

void DeviceState::EndRenderPass()
{
    if (m_PassTargets.empty())
        return;
    if (VkCommandBuffer Commands = m_Stream.Commands())
        m_Vulkan->m_CmdEndRendering(Commands);
    m_PassTargets.clear();
    m_PassPipeline = VK_NULL_HANDLE;
}

VkCommandBuffer DeviceState::BeginOperation()
{
    EndRenderPass();
    const VkCommandBuffer Commands = m_Stream.Commands();
    if (!Commands)
        return VK_NULL_HANDLE;
    // Every operation waits for all earlier work: the immediate context
    // promises that order, and frames here are a handful of operations.
    auto Barrier = Vulkan::Describe<VkMemoryBarrier>(VK_STRUCTURE_TYPE_MEMORY_BARRIER);
    Barrier.srcAccessMask = VK_ACCESS_MEMORY_WRITE_BIT;
    Barrier.dstAccessMask = VK_ACCESS_MEMORY_READ_BIT | VK_ACCESS_MEMORY_WRITE_BIT;
    vkCmdPipelineBarrier(Commands, VK_PIPELINE_STAGE_ALL_COMMANDS_BIT, VK_PIPELINE_STAGE_ALL_COMMANDS_BIT, 0, 1,
                         &Barrier, 0, nullptr, 0, nullptr);
    return Commands;
}

void DeviceState::ResolveClear(VkCommandBuffer Commands, Vulkan::Image& Image)
{
    if (!Image.m_PendingClear)
        return;
    const VkImageSubresourceRange Range = {VK_IMAGE_ASPECT_COLOR_BIT, 0, 1, 0, 1};
    vkCmdClearColorImage(Commands, Image.Handle(), VK_IMAGE_LAYOUT_GENERAL, &*Image.m_PendingClear, 1, &Range);
    Image.m_PendingClear.reset();
    auto Barrier = Vulkan::Describe<VkMemoryBarrier>(VK_STRUCTURE_TYPE_MEMORY_BARRIER);
    Barrier.srcAccessMask = VK_ACCESS_TRANSFER_WRITE_BIT;
    Barrier.dstAccessMask = VK_ACCESS_MEMORY_READ_BIT | VK_ACCESS_MEMORY_WRITE_BIT;
    vkCmdPipelineBarrier(Commands, VK_PIPELINE_STAGE_TRANSFER_BIT, VK_PIPELINE_STAGE_ALL_COMMANDS_BIT, 0, 1, &Barrier,
                         0, nullptr, 0, nullptr);
}

void DeviceState::Use(const std::shared_ptr<Vulkan::Image>& Image)
{
    Image->m_LastUse = m_Stream.CurrentValue();
    m_Stream.Keep(Image);
}

void DeviceState::Use(const std::shared_ptr<Vulkan::Buffer>& Buffer)
{
    Buffer->m_LastUse = m_Stream.CurrentValue();
    m_Stream.Keep(Buffer);
}

void DeviceState::OperationDone()
{
    if (++m_Operations < OperationsPerBatch || !m_PassTargets.empty())
        return;
    m_Operations = 0;
    m_Stream.Submit();
}

HRESULT DeviceState::SubmitUpTo(uint64_t LastUse, bool Wait)
{
    if (LastUse >= m_Stream.CurrentValue() && m_Stream.HasWork())
    {
        EndRenderPass();
        m_Operations = 0;
        const HRESULT Submitted = m_Stream.Submit();
        if (FAILED(Submitted))
            return Submitted;
    }
    if (!Wait || LastUse == 0)
        return m_Vulkan->RemovedReason();
    return m_Stream.Wait(LastUse);
}

bool DeviceState::HasCompleted(uint64_t LastUse)
{
    return LastUse < m_Stream.CurrentValue() && m_Stream.CompletedValue() >= LastUse;
}

void DeviceState::InitializeImage(const std::shared_ptr<Vulkan::Image>& Image)
{
    const VkCommandBuffer Commands = BeginOperation();
    if (!Commands)
        return;
    auto Barrier = Vulkan::Describe<VkImageMemoryBarrier>(VK_STRUCTURE_TYPE_IMAGE_MEMORY_BARRIER);
    Barrier.srcAccessMask = 0;
    Barrier.dstAccessMask = VK_ACCESS_MEMORY_READ_BIT | VK_ACCESS_MEMORY_WRITE_BIT;
    Barrier.oldLayout = VK_IMAGE_LAYOUT_UNDEFINED;
    Barrier.newLayout = VK_IMAGE_LAYOUT_GENERAL;
    Barrier.srcQueueFamilyIndex = VK_QUEUE_FAMILY_IGNORED;
    Barrier.dstQueueFamilyIndex = VK_QUEUE_FAMILY_IGNORED;
    Barrier.image = Image->Handle();
    const bool Planar = Image->Format() == VK_FORMAT_G8_B8R8_2PLANE_420_UNORM;
    Barrier.subresourceRange = {static_cast<VkImageAspectFlags>(
                                    Planar ? VK_IMAGE_ASPECT_PLANE_0_BIT | VK_IMAGE_ASPECT_PLANE_1_BIT
                                           : VK_IMAGE_ASPECT_COLOR_BIT),
                                0, 1, 0, 1};
    vkCmdPipelineBarrier(Commands, VK_PIPELINE_STAGE_TOP_OF_PIPE_BIT, VK_PIPELINE_STAGE_ALL_COMMANDS_BIT, 0, 0,
                         nullptr, 0, nullptr, 1, &Barrier);
    Image->m_Initialized = true;
    Use(Image);
}

} // namespace Platform::D3D11

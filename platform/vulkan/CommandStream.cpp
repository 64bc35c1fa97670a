#include "Vulkan/CommandStream.h"
#include "Structure.h"

#include "Vulkan/Error.h"

namespace Platform::Vulkan {

CommandStream::CommandStream(std::shared_ptr<Device> Device) : m_Device(std::move(Device)) {}

HRESULT CommandStream::Initialize()
{
    const VkDevice Handle = m_Device->Handle();
    auto PoolInfo = Vulkan::Describe<VkCommandPoolCreateInfo>(VK_STRUCTURE_TYPE_COMMAND_POOL_CREATE_INFO);
    PoolInfo.flags = VK_COMMAND_POOL_CREATE_RESET_COMMAND_BUFFER_BIT | VK_COMMAND_POOL_CREATE_TRANSIENT_BIT;
    PoolInfo.queueFamilyIndex = m_Device->QueueFamily();
    VK_RETURN_IF_FAILED(vkCreateCommandPool(Handle, &PoolInfo, nullptr, &m_Pool));

    auto TypeInfo = Vulkan::Describe<VkSemaphoreTypeCreateInfo>(VK_STRUCTURE_TYPE_SEMAPHORE_TYPE_CREATE_INFO);
    TypeInfo.semaphoreType = VK_SEMAPHORE_TYPE_TIMELINE;
    TypeInfo.initialValue = 0;
    auto SemaphoreInfo = Vulkan::Describe<VkSemaphoreCreateInfo>(VK_STRUCTURE_TYPE_SEMAPHORE_CREATE_INFO, &TypeInfo);
    VK_RETURN_IF_FAILED(vkCreateSemaphore(Handle, &SemaphoreInfo, nullptr, &m_Timeline));
    return S_OK;
}

CommandStream::~CommandStream()
{
    const VkDevice Handle = m_Device->Handle();
    if (m_Current)
        vkEndCommandBuffer(m_Current); // recorded but never submitted: dropped
    if (m_Timeline && m_Submitted > 0)
        Wait(m_Submitted);
    if (m_Device->RemovedReason() != S_OK)
        vkDeviceWaitIdle(Handle);
    m_InFlight.clear();
    m_Kept.clear();
    if (m_Pool)
        vkDestroyCommandPool(Handle, m_Pool, nullptr);
    if (m_Timeline)
        vkDestroySemaphore(Handle, m_Timeline, nullptr);
}

VkCommandBuffer CommandStream::Commands()
{
    if (m_Current)
        return m_Current;
    if (m_Device->RemovedReason() != S_OK)
        return VK_NULL_HANDLE;
    VkCommandBuffer Commands = VK_NULL_HANDLE;
    if (!m_Free.empty())
    {
        Commands = m_Free.back();
        m_Free.pop_back();
    }
    else
    {
        auto AllocateInfo = Vulkan::Describe<VkCommandBufferAllocateInfo>(VK_STRUCTURE_TYPE_COMMAND_BUFFER_ALLOCATE_INFO);
        AllocateInfo.commandPool = m_Pool;
        AllocateInfo.level = VK_COMMAND_BUFFER_LEVEL_PRIMARY;
        AllocateInfo.commandBufferCount = 1;
        const VkResult Result = vkAllocateCommandBuffers(m_Device->Handle(), &AllocateInfo, &Commands);
        if (Result != VK_SUCCESS)
        {
            m_Device->MarkRemoved(HresultFromVk(Result));
            return VK_NULL_HANDLE;
        }
    }
    auto BeginInfo = Vulkan::Describe<VkCommandBufferBeginInfo>(VK_STRUCTURE_TYPE_COMMAND_BUFFER_BEGIN_INFO);
    BeginInfo.flags = VK_COMMAND_BUFFER_USAGE_ONE_TIME_SUBMIT_BIT;
    const VkResult Result = vkBeginCommandBuffer(Commands, &BeginInfo);
    if (Result != VK_SUCCESS)
    {
        m_Device->MarkRemoved(HresultFromVk(Result));
        m_Free.push_back(Commands);
        return VK_NULL_HANDLE;
    }
    m_Current = Commands;
    return m_Current;
}

void CommandStream::Keep(std::shared_ptr<void> Object) { m_Kept.push_back(std::move(Object)); }

HRESULT CommandStream::Submit()
{
    Retire();
    if (!m_Current)
        return m_Device->RemovedReason();

    const VkCommandBuffer Commands = m_Current;
    m_Current = VK_NULL_HANDLE;
    VkResult Result = vkEndCommandBuffer(Commands);
    const uint64_t Value = m_Submitted + 1;
    if (Result == VK_SUCCESS)
    {
        auto TimelineInfo = Vulkan::Describe<VkTimelineSemaphoreSubmitInfo>(VK_STRUCTURE_TYPE_TIMELINE_SEMAPHORE_SUBMIT_INFO);
        TimelineInfo.signalSemaphoreValueCount = 1;
        TimelineInfo.pSignalSemaphoreValues = &Value;
        auto SubmitInfo = Vulkan::Describe<VkSubmitInfo>(VK_STRUCTURE_TYPE_SUBMIT_INFO, &TimelineInfo);
        SubmitInfo.commandBufferCount = 1;
        SubmitInfo.pCommandBuffers = &Commands;
        SubmitInfo.signalSemaphoreCount = 1;
        SubmitInfo.pSignalSemaphores = &m_Timeline;
        const VkPipelineStageFlags GateStages = VK_PIPELINE_STAGE_ALL_COMMANDS_BIT;
        if (m_Gate)
        {
            TimelineInfo.waitSemaphoreValueCount = 1;
            TimelineInfo.pWaitSemaphoreValues = &m_GateValue;
            SubmitInfo.waitSemaphoreCount = 1;
            SubmitInfo.pWaitSemaphores = &m_Gate;
            SubmitInfo.pWaitDstStageMask = &GateStages;
        }
        Result = vkQueueSubmit(m_Device->Queue(), 1, &SubmitInfo, VK_NULL_HANDLE);
        m_Gate = VK_NULL_HANDLE;
    }
    if (Result != VK_SUCCESS)
    {
        // Nothing of the batch will run: a device that cannot take work any
        // more is a removed device.
        m_Device->MarkRemoved(HresultFromDeviceFailure(Result));
        vkResetCommandBuffer(Commands, 0);
        m_Free.push_back(Commands);
        m_Kept.clear();
        return m_Device->RemovedReason();
    }
    m_Submitted = Value;
    m_InFlight.push_back({Value, Commands, std::move(m_Kept)});
    m_Kept.clear();
    return S_OK;
}

uint64_t CommandStream::CompletedValue() const
{
    uint64_t Value = 0;
    if (vkGetSemaphoreCounterValue(m_Device->Handle(), m_Timeline, &Value) != VK_SUCCESS)
        return 0;
    return Value;
}

void CommandStream::WaitBeforeNext(VkSemaphore Semaphore, uint64_t Value)
{
    m_Gate = Semaphore;
    m_GateValue = Value;
}

HRESULT CommandStream::Wait(uint64_t Value)
{
    // A device that already failed answers at once: its work may never end.
    const HRESULT Removed = m_Device->RemovedReason();
    if (FAILED(Removed))
        return CompletedValue() >= Value ? S_OK : Removed;
    auto WaitInfo = Vulkan::Describe<VkSemaphoreWaitInfo>(VK_STRUCTURE_TYPE_SEMAPHORE_WAIT_INFO);
    WaitInfo.semaphoreCount = 1;
    WaitInfo.pSemaphores = &m_Timeline;
    WaitInfo.pValues = &Value;
    const VkResult Result =
        vkWaitSemaphores(m_Device->Handle(), &WaitInfo, static_cast<uint64_t>(m_Device->WaitLimit().count()));
    if (Result == VK_SUCCESS)
        return S_OK;
    m_Device->MarkRemoved(HresultFromDeviceFailure(Result));
    return m_Device->RemovedReason();
}

void CommandStream::WaitIdle()
{
    if (m_Submitted > 0 && FAILED(Wait(m_Submitted)))
        vkDeviceWaitIdle(m_Device->Handle());
    Retire();
    if (m_Device->RemovedReason() != S_OK)
    {
        // A lost device signals nothing more: after the idle wait nothing runs.
        for (Batch& Done : m_InFlight)
            m_Free.push_back(Done.m_Commands);
        m_InFlight.clear();
    }
}

void CommandStream::Retire()
{
    if (m_InFlight.empty())
        return;
    const uint64_t Completed = CompletedValue();
    while (!m_InFlight.empty() && m_InFlight.front().m_Value <= Completed)
    {
        Batch& Done = m_InFlight.front();
        vkResetCommandBuffer(Done.m_Commands, 0);
        m_Free.push_back(Done.m_Commands);
        m_InFlight.pop_front();
    }
}

} // namespace Platform::Vulkan


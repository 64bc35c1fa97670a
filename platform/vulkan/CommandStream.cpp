#include "CommandStream.h"

#include <utility>

#include "Structure.h"

#include "Error.h"

namespace Platform::Vulkan {

namespace {

// Batches in flight that are timed at once; later ones go untimed until
// earlier ones retire.
constexpr uint32_t TimerCount = 64;

} // namespace

CommandStream::CommandStream(std::shared_ptr<Device> Device) : m_Device(std::move(Device)) {}

VkResult CommandStream::Initialize()
{
    const VkDevice Handle = m_Device->Handle();
    auto PoolInfo = Vulkan::Describe<VkCommandPoolCreateInfo>(VK_STRUCTURE_TYPE_COMMAND_POOL_CREATE_INFO);
    PoolInfo.flags = VK_COMMAND_POOL_CREATE_RESET_COMMAND_BUFFER_BIT | VK_COMMAND_POOL_CREATE_TRANSIENT_BIT;
    PoolInfo.queueFamilyIndex = m_Device->QueueFamily();
    VK_RETURN_IF_FAILED(vkCreateCommandPool(Handle, &PoolInfo, nullptr, &m_Pool));

    auto TypeInfo = Vulkan::Describe<VkSemaphoreTypeCreateInfo>(VK_STRUCTURE_TYPE_SEMAPHORE_TYPE_CREATE_INFO);
    TypeInfo.semaphoreType = VK_SEMAPHORE_TYPE_TIMELINE;
    TypeInfo.initialValue = 0;
    // Exportable where the device allows, so that another API can wait for
    // a batch on its own queue.
    auto Export = Vulkan::Describe<VkExportSemaphoreCreateInfo>(VK_STRUCTURE_TYPE_EXPORT_SEMAPHORE_CREATE_INFO);
    Export.handleTypes = VK_EXTERNAL_SEMAPHORE_HANDLE_TYPE_OPAQUE_FD_BIT;
    if (m_Device->ExportsTimeline())
        TypeInfo.pNext = &Export;
    auto SemaphoreInfo = Vulkan::Describe<VkSemaphoreCreateInfo>(VK_STRUCTURE_TYPE_SEMAPHORE_CREATE_INFO, &TypeInfo);
    VK_RETURN_IF_FAILED(vkCreateSemaphore(Handle, &SemaphoreInfo, nullptr, &m_Timeline));
    return CreateTimers();
}

VkResult CommandStream::CreateTimers()
{
    uint32_t Count = 0;
    vkGetPhysicalDeviceQueueFamilyProperties(m_Device->Adapter().m_Handle, &Count, nullptr);
    std::vector<VkQueueFamilyProperties> Families(Count);
    vkGetPhysicalDeviceQueueFamilyProperties(m_Device->Adapter().m_Handle, &Count, Families.data());
    const uint32_t ValidBits =
        m_Device->QueueFamily() < Count ? Families[m_Device->QueueFamily()].timestampValidBits : 0;
    const float Period = m_Device->Adapter().m_Properties.limits.timestampPeriod;
    if (ValidBits == 0 || Period <= 0)
        return VK_SUCCESS; // untimed: the busy time stays 0
    auto PoolInfo = Vulkan::Describe<VkQueryPoolCreateInfo>(VK_STRUCTURE_TYPE_QUERY_POOL_CREATE_INFO);
    PoolInfo.queryType = VK_QUERY_TYPE_TIMESTAMP;
    PoolInfo.queryCount = 2 * TimerCount;
    VK_RETURN_IF_FAILED(vkCreateQueryPool(m_Device->Handle(), &PoolInfo, nullptr, &m_Timers));
    m_TimestampPeriod = Period;
    m_TimestampMask = ValidBits >= 64 ? ~uint64_t(0) : (uint64_t(1) << ValidBits) - 1;
    return VK_SUCCESS;
}

void CommandStream::StartTimer(VkCommandBuffer Commands)
{
    m_CurrentTimer = -1;
    if (!m_Timers || m_InFlight.size() >= TimerCount)
        return;
    m_CurrentTimer = static_cast<int32_t>(m_NextTimer++ % TimerCount);
    vkCmdResetQueryPool(Commands, m_Timers, 2 * m_CurrentTimer, 2);
    vkCmdWriteTimestamp(Commands, VK_PIPELINE_STAGE_TOP_OF_PIPE_BIT, m_Timers, 2 * m_CurrentTimer);
}

void CommandStream::AddBusyTime(int32_t Timer)
{
    if (Timer < 0)
        return;
    uint64_t Ticks[2] = {};
    if (vkGetQueryPoolResults(m_Device->Handle(), m_Timers, 2 * Timer, 2, sizeof Ticks, Ticks, sizeof Ticks[0],
                              VK_QUERY_RESULT_64_BIT) != VK_SUCCESS)
        return;
    const uint64_t Elapsed = ((Ticks[1] & m_TimestampMask) - (Ticks[0] & m_TimestampMask)) & m_TimestampMask;
    m_BusyTime.fetch_add(static_cast<uint64_t>(Elapsed * m_TimestampPeriod), std::memory_order_relaxed);
}

CommandStream::~CommandStream()
{
    const VkDevice Handle = m_Device->Handle();
    if (m_Current)
        vkEndCommandBuffer(m_Current); // recorded but never submitted: dropped
    if (m_Timeline && m_Submitted > 0)
        Wait(m_Submitted);
    if (m_Device->RemovedReason() != VK_SUCCESS)
        vkDeviceWaitIdle(Handle);
    m_InFlight.clear();
    m_Kept.clear();
    if (m_Pool)
        vkDestroyCommandPool(Handle, m_Pool, nullptr);
    if (m_Timeline)
        vkDestroySemaphore(Handle, m_Timeline, nullptr);
    if (m_Timers)
        vkDestroyQueryPool(Handle, m_Timers, nullptr);
}

VkCommandBuffer CommandStream::Commands()
{
    if (m_Current)
        return m_Current;
    if (m_Device->RemovedReason() != VK_SUCCESS)
        return VK_NULL_HANDLE;
    VkCommandBuffer Commands = VK_NULL_HANDLE;
    if (!m_Free.empty())
    {
        Commands = m_Free.back();
        m_Free.pop_back();
    }
    else
    {
        auto AllocateInfo =
            Vulkan::Describe<VkCommandBufferAllocateInfo>(VK_STRUCTURE_TYPE_COMMAND_BUFFER_ALLOCATE_INFO);
        AllocateInfo.commandPool = m_Pool;
        AllocateInfo.level = VK_COMMAND_BUFFER_LEVEL_PRIMARY;
        AllocateInfo.commandBufferCount = 1;
        const VkResult Result = vkAllocateCommandBuffers(m_Device->Handle(), &AllocateInfo, &Commands);
        if (Result != VK_SUCCESS)
        {
            m_Device->MarkRemoved(Result);
            return VK_NULL_HANDLE;
        }
    }
    auto BeginInfo = Vulkan::Describe<VkCommandBufferBeginInfo>(VK_STRUCTURE_TYPE_COMMAND_BUFFER_BEGIN_INFO);
    BeginInfo.flags = VK_COMMAND_BUFFER_USAGE_ONE_TIME_SUBMIT_BIT;
    const VkResult Result = vkBeginCommandBuffer(Commands, &BeginInfo);
    if (Result != VK_SUCCESS)
    {
        m_Device->MarkRemoved(Result);
        m_Free.push_back(Commands);
        return VK_NULL_HANDLE;
    }
    m_Current = Commands;
    StartTimer(Commands);
    return m_Current;
}

void CommandStream::Keep(std::shared_ptr<void> Object) { m_Kept.push_back(std::move(Object)); }

VkResult CommandStream::Submit()
{
    Retire();
    if (!m_Current)
        return m_Device->RemovedReason();

    const VkCommandBuffer Commands = m_Current;
    m_Current = VK_NULL_HANDLE;
    const int32_t Timer = std::exchange(m_CurrentTimer, -1);
    if (Timer >= 0)
        vkCmdWriteTimestamp(Commands, VK_PIPELINE_STAGE_BOTTOM_OF_PIPE_BIT, m_Timers, 2 * Timer + 1);
    VkResult Result = vkEndCommandBuffer(Commands);
    const uint64_t Value = m_Submitted + 1;
    if (Result == VK_SUCCESS)
    {
        auto TimelineInfo =
            Vulkan::Describe<VkTimelineSemaphoreSubmitInfo>(VK_STRUCTURE_TYPE_TIMELINE_SEMAPHORE_SUBMIT_INFO);
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
        m_Device->MarkRemoved(DeviceFailure(Result));
        vkResetCommandBuffer(Commands, 0);
        m_Free.push_back(Commands);
        m_Kept.clear();
        return m_Device->RemovedReason();
    }
    m_Submitted = Value;
    m_InFlight.push_back({Value, Commands, std::move(m_Kept), Timer});
    m_Kept.clear();
    return VK_SUCCESS;
}

uint64_t CommandStream::CompletedValue() const
{
    uint64_t Value = 0;
    if (vkGetSemaphoreCounterValue(m_Device->Handle(), m_Timeline, &Value) != VK_SUCCESS)
        return 0;
    return Value;
}

VkResult CommandStream::ExportTimeline(int& Descriptor) const
{
    Descriptor = -1;
    if (!m_Device->ExportsTimeline() || !m_Timeline)
        return VK_ERROR_FEATURE_NOT_PRESENT;
    auto Info = Vulkan::Describe<VkSemaphoreGetFdInfoKHR>(VK_STRUCTURE_TYPE_SEMAPHORE_GET_FD_INFO_KHR);
    Info.semaphore = m_Timeline;
    Info.handleType = VK_EXTERNAL_SEMAPHORE_HANDLE_TYPE_OPAQUE_FD_BIT;
    VK_RETURN_IF_FAILED(m_Device->m_GetSemaphoreFd(m_Device->Handle(), &Info, &Descriptor));
    return VK_SUCCESS;
}

void CommandStream::WaitBeforeNext(VkSemaphore Semaphore, uint64_t Value)
{
    m_Gate = Semaphore;
    m_GateValue = Value;
}

VkResult CommandStream::Wait(uint64_t Value)
{
    // A device that already failed answers at once: its work may never end.
    const VkResult Removed = m_Device->RemovedReason();
    if (Removed != VK_SUCCESS)
        return CompletedValue() >= Value ? VK_SUCCESS : Removed;
    auto WaitInfo = Vulkan::Describe<VkSemaphoreWaitInfo>(VK_STRUCTURE_TYPE_SEMAPHORE_WAIT_INFO);
    WaitInfo.semaphoreCount = 1;
    WaitInfo.pSemaphores = &m_Timeline;
    WaitInfo.pValues = &Value;
    // A device that completes batches is busy, not hung, however much work
    // is queued: the limit runs from the last batch it completed.
    uint64_t Completed = CompletedValue();
    VkResult Result = VK_TIMEOUT;
    for (;;)
    {
        Result = vkWaitSemaphores(m_Device->Handle(), &WaitInfo, static_cast<uint64_t>(m_Device->WaitLimit().count()));
        if (Result == VK_SUCCESS)
            return VK_SUCCESS;
        const uint64_t Now = CompletedValue();
        if (Result != VK_TIMEOUT || Now == Completed)
            break;
        Completed = Now;
    }
    m_Device->MarkRemoved(DeviceFailure(Result));
    return m_Device->RemovedReason();
}

void CommandStream::WaitIdle()
{
    if (m_Submitted > 0 && Wait(m_Submitted) != VK_SUCCESS)
        vkDeviceWaitIdle(m_Device->Handle());
    Retire();
    if (m_Device->RemovedReason() != VK_SUCCESS)
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
        AddBusyTime(Done.m_Timer);
        vkResetCommandBuffer(Done.m_Commands, 0);
        m_Free.push_back(Done.m_Commands);
        m_InFlight.pop_front();
    }
}

} // namespace Platform::Vulkan

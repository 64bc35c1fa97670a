// Command buffers and their submission on a device's queue. Work is recorded
// into the current command buffer and submitted in batches; each batch
// signals the next value of one timeline semaphore and keeps what it uses
// alive until the device has finished it. Where the queue has timestamps,
// each batch is timed on the device, and the times of completed batches add
// up to the device's busy time.
//
// Recording, Submit and Retire must be serialised by the owner (the command
// context's owner). Wait may be called from any thread without it.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include <vulkan/vulkan.h>

#include "Vulkan/Device.h"

namespace Platform::Vulkan {

class CommandStream
{
public:
    explicit CommandStream(std::shared_ptr<Device> Device);
    ~CommandStream(); // waits for everything submitted
    CommandStream(const CommandStream&) = delete;
    CommandStream& operator=(const CommandStream&) = delete;

    VkResult Initialize();

    // The command buffer being recorded, begun on first use; null when the
    // device is lost or out of memory (the device's removed reason says which).
    VkCommandBuffer Commands();
    // Keeps Object alive until the current batch has completed.
    void Keep(std::shared_ptr<void> Object);
    // The value that the current batch signals when it completes.
    uint64_t CurrentValue() const { return m_Submitted + 1; }
    // Whether anything has been recorded since the last submission.
    bool HasWork() const { return m_Current != VK_NULL_HANDLE; }

    // Ends and submits the current batch, if any.
    VkResult Submit();
    // The next batch submitted starts only once Semaphore (a timeline
    // semaphore) reaches Value: work that the host or another queue gates.
    void WaitBeforeNext(VkSemaphore Semaphore, uint64_t Value);
    // Waits until the batch with Value has completed. When no batch completes
    // for the device's wait limit, the device counts as hung (VK_TIMEOUT),
    // and every later call answers that; a device that goes on completing
    // batches is waited for however long its queue is.
    VkResult Wait(uint64_t Value);
    // Waits for everything submitted, then retires it.
    void WaitIdle();
    // Releases what completed batches kept alive and recycles their buffers.
    void Retire();
    // The value of the last completed batch.
    uint64_t CompletedValue() const;
    // Nanoseconds the device spent on the batches retired so far (0 where
    // the queue has no timestamps). Any thread.
    uint64_t BusyTime() const { return m_BusyTime.load(std::memory_order_relaxed); }

    const std::shared_ptr<Device>& Owner() const { return m_Device; }

    // A new file descriptor of the timeline semaphore (the caller owns it),
    // for another API that waits for batches on its own device queue;
    // VK_ERROR_FEATURE_NOT_PRESENT where the device does not export it.
    VkResult ExportTimeline(int& Descriptor) const;

private:
    struct Batch
    {
        uint64_t m_Value;
        VkCommandBuffer m_Commands;
        std::vector<std::shared_ptr<void>> m_Kept;
        int32_t m_Timer; // its pair of timestamp queries, or -1
    };

    VkResult CreateTimers();
    void StartTimer(VkCommandBuffer Commands);
    void AddBusyTime(int32_t Timer);

    std::shared_ptr<Device> m_Device;
    VkCommandPool m_Pool = VK_NULL_HANDLE;
    VkSemaphore m_Timeline = VK_NULL_HANDLE;
    uint64_t m_Submitted = 0;
    VkCommandBuffer m_Current = VK_NULL_HANDLE;
    std::vector<std::shared_ptr<void>> m_Kept;
    std::deque<Batch> m_InFlight;
    std::vector<VkCommandBuffer> m_Free;
    VkSemaphore m_Gate = VK_NULL_HANDLE;
    uint64_t m_GateValue = 0;

    // Timestamps: a pair of queries for each batch in flight, used in turn.
    VkQueryPool m_Timers = VK_NULL_HANDLE;
    double m_TimestampPeriod = 0; // nanoseconds a tick
    uint64_t m_TimestampMask = 0;
    uint32_t m_NextTimer = 0;
    int32_t m_CurrentTimer = -1;
    std::atomic<uint64_t> m_BusyTime{0};
};

} // namespace Platform::Vulkan

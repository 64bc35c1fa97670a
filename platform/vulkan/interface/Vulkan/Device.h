// A Vulkan logical device with its one queue: memory allocation, the
// device-level entry points the rest of the platform needs, and whether the
// device still works.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

#include <vulkan/vulkan.h>

#include "Instance.h"

namespace Platform::Vulkan {

class Device
{
public:
    static VkResult Create(std::shared_ptr<Instance> Instance, const PhysicalDevice& Adapter,
                           std::shared_ptr<Device>& Result);
    ~Device();
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    VkDevice Handle() const { return m_Handle; }
    VkQueue Queue() const { return m_Queue; }
    uint32_t QueueFamily() const { return m_QueueFamily; }
    const PhysicalDevice& Adapter() const { return m_Adapter; }

    // Memory of a type with all of Required, preferring one that also has
    // Preferred; Obtained tells which flags the chosen type has.
    // Next: structures chained to the allocation (export, dedication).
    VkResult Allocate(const VkMemoryRequirements& Requirements, VkMemoryPropertyFlags Required,
                      VkMemoryPropertyFlags Preferred, VkDeviceMemory& Memory, VkMemoryPropertyFlags& Obtained,
                      const void* Next = nullptr) const;

    // Whether the device's memory is the host's own (a CPU device whose every
    // memory type the host can map): the host may read images where they lie.
    bool HostMemoryOnly() const;

    bool SupportsFormat(VkFormat Format, VkFormatFeatureFlags Features, bool Linear = false) const;
    bool SupportsBufferFormat(VkFormat Format, VkFormatFeatureFlags Features) const;

    // The first lost device or failed submission marks the device removed;
    // every later call then answers this reason.
    VkResult RemovedReason() const { return m_RemovedReason.load(std::memory_order_acquire); }
    void MarkRemoved(VkResult Reason);

    // How long a wait for the device may take before the device counts as
    // hung: generous, since a healthy device finishes a batch in far less.
    static constexpr std::chrono::nanoseconds DefaultWaitLimit = std::chrono::seconds(10);
    std::chrono::nanoseconds WaitLimit() const { return std::chrono::nanoseconds(m_WaitLimit.load()); }
    void SetWaitLimit(std::chrono::nanoseconds Limit) { m_WaitLimit.store(Limit.count()); }

    PFN_vkCmdBeginRendering m_CmdBeginRendering = nullptr;
    PFN_vkCmdEndRendering m_CmdEndRendering = nullptr;
    PFN_vkCmdPushDescriptorSetKHR m_CmdPushDescriptorSet = nullptr;
    // Null where the device does not export memory or semaphores as file
    // descriptors.
    PFN_vkGetMemoryFdKHR m_GetMemoryFd = nullptr;
    PFN_vkGetSemaphoreFdKHR m_GetSemaphoreFd = nullptr;
    // Whether a timeline semaphore of this device can be exported as an
    // opaque file descriptor.
    bool ExportsTimeline() const { return m_ExportsTimeline; }

private:
    Device(std::shared_ptr<Instance> Instance, const PhysicalDevice& Adapter);

    std::shared_ptr<Instance> m_Instance;
    PhysicalDevice m_Adapter;
    VkDevice m_Handle = VK_NULL_HANDLE;
    VkQueue m_Queue = VK_NULL_HANDLE;
    uint32_t m_QueueFamily = 0;
    bool m_ExportsTimeline = false;
    std::atomic<VkResult> m_RemovedReason{VK_SUCCESS};
    std::atomic<int64_t> m_WaitLimit{DefaultWaitLimit.count()};
};

// The first memory type among TypeBits with all of Required and Preferred,
// else the first with all of Required; none when no type has Required.
std::optional<uint32_t> ChooseMemoryType(const VkPhysicalDeviceMemoryProperties& Properties, uint32_t TypeBits,
                                         VkMemoryPropertyFlags Required, VkMemoryPropertyFlags Preferred);

} // namespace Platform::Vulkan

// The Vulkan instance and its physical devices, in the order that adapters are listed:
// hardware devices first, software (CPU) devices last.
#pragma once

#include <memory>
#include <vector>

#include <vulkan/vulkan.h>

#include "PhysicalDevice.h"

namespace Platform::Vulkan {

class Instance
{
public:
    // The process's instance, made on first use and kept until the process
    // ends. A machine without a Vulkan driver gives an instance without
    // devices.
    static VkResult Acquire(std::shared_ptr<Instance>& Result);

    ~Instance();
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    VkInstance Handle() const { return m_Handle; }
    const std::vector<PhysicalDevice>& PhysicalDevices() const { return m_PhysicalDevices; }

private:
    Instance() = default;

    VkInstance m_Handle = VK_NULL_HANDLE;
    std::vector<PhysicalDevice> m_PhysicalDevices;
};

// Hardware first, in the order of their kind (discrete, integrated, virtual,
// other); CPU devices last. Stable: devices of one kind keep the driver's
// order.
void SortByKind(std::vector<PhysicalDevice>& Devices);

} // namespace Platform::Vulkan

#include "Vulkan/Instance.h"
#include "Structure.h"

#include <algorithm>
#include <mutex>

#include "Error.h"

namespace Platform::Vulkan {

namespace {

std::mutex InstanceLock;
// Made once and kept for the life of the process, never destroyed: drivers
// keep process-wide state (shader caches, thread pools) that must not be
// unloaded under objects that still refer to it, and enumeration is slow
// enough to do only once.
std::shared_ptr<Instance>* SharedInstance = nullptr;

int Rank(const PhysicalDevice& Device)
{
    switch (Device.m_Properties.deviceType)
    {
    case VK_PHYSICAL_DEVICE_TYPE_DISCRETE_GPU: return 0;
    case VK_PHYSICAL_DEVICE_TYPE_INTEGRATED_GPU: return 1;
    case VK_PHYSICAL_DEVICE_TYPE_VIRTUAL_GPU: return 2;
    case VK_PHYSICAL_DEVICE_TYPE_OTHER: return 3;
    default: return 4;
    }
}

} // namespace

VkResult Instance::Acquire(std::shared_ptr<Instance>& Result)
{
    std::lock_guard Guard(InstanceLock);
    if (SharedInstance)
    {
        Result = *SharedInstance;
        return VK_SUCCESS;
    }

    std::shared_ptr<Instance> Created(new (std::nothrow) Instance);
    if (!Created)
        return VK_ERROR_OUT_OF_HOST_MEMORY;
    auto Application = Vulkan::Describe<VkApplicationInfo>(VK_STRUCTURE_TYPE_APPLICATION_INFO);
    Application.pApplicationName = "Ostrel";
    Application.pEngineName = "Ostrel";
    Application.apiVersion = VK_API_VERSION_1_3;
    auto CreateInfo = Vulkan::Describe<VkInstanceCreateInfo>(VK_STRUCTURE_TYPE_INSTANCE_CREATE_INFO);
    CreateInfo.pApplicationInfo = &Application;
    const VkResult Created_ = vkCreateInstance(&CreateInfo, nullptr, &Created->m_Handle);
    // A failed creation leaves no instance to destroy.
    if (Created_ < 0)
        Created->m_Handle = VK_NULL_HANDLE;
    // No driver: a factory without adapters, as on a machine without any,
    // unless the driver could not be loaded for want of memory.
    const bool NoDriver =
        Created_ == VK_ERROR_INCOMPATIBLE_DRIVER && DriverStartResult(Created_) != VK_ERROR_OUT_OF_HOST_MEMORY;
    if (Created_ < 0 && !NoDriver)
        return DriverStartResult(Created_);
    if (!NoDriver)
    {
        uint32_t Count = 0;
        // The loader starts the drivers here; one that cannot be loaded is
        // left out, and none left fails the enumeration.
        const VkResult Enumerated = vkEnumeratePhysicalDevices(Created->m_Handle, &Count, nullptr);
        if (Enumerated < 0)
            return DriverStartResult(Enumerated);
        std::vector<VkPhysicalDevice> Handles(Count);
        VK_RETURN_IF_FAILED(vkEnumeratePhysicalDevices(Created->m_Handle, &Count, Handles.data()));
        Handles.resize(Count);
        for (VkPhysicalDevice Handle : Handles)
        {
            PhysicalDevice Device(Handle);
            // Vulkan 1.1 gives negative viewport heights (which fronts
            // with an upward y axis need); older devices are left out.
            if (Device.m_Properties.apiVersion >= VK_API_VERSION_1_1)
                Created->m_PhysicalDevices.push_back(std::move(Device));
        }
        SortByKind(Created->m_PhysicalDevices);
    }
    SharedInstance = new (std::nothrow) std::shared_ptr<Instance>(Created);
    Result = std::move(Created);
    return VK_SUCCESS;
}

void SortByKind(std::vector<PhysicalDevice>& Devices)
{
    std::stable_sort(Devices.begin(), Devices.end(),
                     [](const PhysicalDevice& A, const PhysicalDevice& B) { return Rank(A) < Rank(B); });
}

Instance::~Instance()
{
    if (m_Handle)
        vkDestroyInstance(m_Handle, nullptr);
}

} // namespace Platform::Vulkan

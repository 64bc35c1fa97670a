// One Vulkan physical device: what it is, what it offers, and where it sits
// on the machine (PCI address, DRM render node) where the driver says so.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include <vulkan/vulkan.h>

namespace Platform::Vulkan {

struct PciAddress
{
    uint32_t m_Domain = 0;
    uint32_t m_Bus = 0;
    uint32_t m_Device = 0;
    uint32_t m_Function = 0;
};

struct DrmNode
{
    int64_t m_Major = 0;
    int64_t m_Minor = 0;
};

class PhysicalDevice
{
public:
    explicit PhysicalDevice(VkPhysicalDevice Handle);
    // A device described by hand rather than read from a driver.
    PhysicalDevice() = default;

    bool IsSoftware() const { return m_Properties.deviceType == VK_PHYSICAL_DEVICE_TYPE_CPU; }
    bool HasExtension(const char* Name) const;

    VkPhysicalDevice m_Handle = VK_NULL_HANDLE;
    VkPhysicalDeviceProperties m_Properties = {};
    VkPhysicalDeviceFeatures m_Features = {};
    VkPhysicalDeviceMemoryProperties m_MemoryProperties = {};
    std::array<uint8_t, VK_UUID_SIZE> m_Uuid = {};
    bool m_LuidValid = false;
    std::array<uint8_t, VK_LUID_SIZE> m_Luid = {};
    // What a device on it needs beyond Vulkan 1.1: timeline semaphores,
    // dynamic rendering and push descriptors.
    bool m_Usable = false;
    // Shader interfaces may leave outputs unread (core in 1.3).
    bool m_Maintenance4 = false;
    // Memory and semaphores that another API on the machine may import as
    // file descriptors (VK_KHR_external_memory_fd, _semaphore_fd).
    bool m_ExternalMemoryFd = false;
    bool m_ExternalSemaphoreFd = false;
    std::optional<PciAddress> m_PciAddress; // VK_EXT_pci_bus_info
    std::optional<DrmNode> m_RenderNode;    // VK_EXT_physical_device_drm

private:
    void ReadIdentity();
    void ReadFeatures();
    void ReadLocation();

    std::string m_Extensions; // " name name ... ": every name between blanks
};

} // namespace Platform::Vulkan

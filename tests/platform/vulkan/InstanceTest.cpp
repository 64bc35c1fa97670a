// The order of the instance's physical devices: the adapters' order.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Vulkan/Instance.h"

namespace {

Platform::Vulkan::PhysicalDevice Described(VkPhysicalDeviceType Type, uint32_t DeviceId)
{
    Platform::Vulkan::PhysicalDevice Device;
    Device.m_Properties.deviceType = Type;
    Device.m_Properties.deviceID = DeviceId;
    return Device;
}

} // namespace

TEST(VulkanInstance, HardwareComesFirstByKindAndSoftwareLastInTheDriversOrder)
{
    std::vector<Platform::Vulkan::PhysicalDevice> Devices = {
        Described(VK_PHYSICAL_DEVICE_TYPE_CPU, 1),          Described(VK_PHYSICAL_DEVICE_TYPE_INTEGRATED_GPU, 2),
        Described(VK_PHYSICAL_DEVICE_TYPE_OTHER, 3),        Described(VK_PHYSICAL_DEVICE_TYPE_DISCRETE_GPU, 4),
        Described(VK_PHYSICAL_DEVICE_TYPE_CPU, 5),          Described(VK_PHYSICAL_DEVICE_TYPE_VIRTUAL_GPU, 6),
        Described(VK_PHYSICAL_DEVICE_TYPE_DISCRETE_GPU, 7), Described(VK_PHYSICAL_DEVICE_TYPE_INTEGRATED_GPU, 8),
    };
    Platform::Vulkan::SortByKind(Devices);
    std::vector<uint32_t> Order;
    for (const auto& Device : Devices)
        Order.push_back(Device.m_Properties.deviceID);
    EXPECT_EQ(Order, (std::vector<uint32_t>{4, 7, 2, 8, 6, 3, 1, 5}));
    EXPECT_FALSE(Devices[0].IsSoftware());
    EXPECT_TRUE(Devices[6].IsSoftware() && Devices[7].IsSoftware());
}

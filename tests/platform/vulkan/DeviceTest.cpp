// The Vulkan device's choice of memory, on described memory types.

#include <gtest/gtest.h>

#include "Vulkan/Device.h"

using Platform::Vulkan::ChooseMemoryType;

namespace {

constexpr VkMemoryPropertyFlags DeviceLocal = VK_MEMORY_PROPERTY_DEVICE_LOCAL_BIT;
constexpr VkMemoryPropertyFlags Visible = VK_MEMORY_PROPERTY_HOST_VISIBLE_BIT;
constexpr VkMemoryPropertyFlags Coherent = VK_MEMORY_PROPERTY_HOST_COHERENT_BIT;
constexpr VkMemoryPropertyFlags Cached = VK_MEMORY_PROPERTY_HOST_CACHED_BIT;

VkPhysicalDeviceMemoryProperties Types(std::initializer_list<VkMemoryPropertyFlags> Flags)
{
    VkPhysicalDeviceMemoryProperties Properties = {};
    for (VkMemoryPropertyFlags Each : Flags)
        Properties.memoryTypes[Properties.memoryTypeCount++] = {Each, 0};
    Properties.memoryHeapCount = 1;
    return Properties;
}

} // namespace

TEST(VulkanDevice, MemoryTypesArePreferredThenRequiredAndOnlyAmongThoseAllowed)
{
    // A discrete GPU: its own memory, memory the host writes, memory the
    // host reads back through its caches.
    const auto Discrete = Types({DeviceLocal, Visible | Coherent, Visible | Coherent | Cached});
    EXPECT_EQ(ChooseMemoryType(Discrete, 0b111, 0, DeviceLocal), 0u);
    EXPECT_EQ(ChooseMemoryType(Discrete, 0b111, Visible, Coherent), 1u);
    EXPECT_EQ(ChooseMemoryType(Discrete, 0b111, Visible, Cached | Coherent), 2u);
    // The preference gives way to what the resource allows, the requirement
    // never does.
    EXPECT_EQ(ChooseMemoryType(Discrete, 0b011, Visible, Cached | Coherent), 1u);
    EXPECT_EQ(ChooseMemoryType(Discrete, 0b001, Visible, Coherent), std::nullopt);
    EXPECT_EQ(ChooseMemoryType(Discrete, 0b110, 0, DeviceLocal), 1u);
    EXPECT_EQ(ChooseMemoryType(Discrete, 0, 0, 0), std::nullopt);

    // A software device: one type with every flag, whatever is asked.
    const auto Software = Types({DeviceLocal | Visible | Coherent | Cached});
    EXPECT_EQ(ChooseMemoryType(Software, 0b1, Visible, Cached), 0u);
    EXPECT_EQ(ChooseMemoryType(Software, 0b1, 0, DeviceLocal), 0u);
    EXPECT_EQ(ChooseMemoryType(Types({}), ~0u, 0, 0), std::nullopt);
}

// The command stream of a device on the software adapter: batches, their
// values, and what they keep alive.

#include <memory>

#include <gtest/gtest.h>

#include "Vulkan/CommandStream.h"
#include "Vulkan/Instance.h"

namespace {

std::shared_ptr<Platform::Vulkan::Device> SoftwareDevice()
{
    std::shared_ptr<Platform::Vulkan::Instance> Instance;
    EXPECT_EQ(Platform::Vulkan::Instance::Acquire(Instance), S_OK);
    std::shared_ptr<Platform::Vulkan::Device> Device;
    for (const auto& Physical : Instance->PhysicalDevices())
        if (Physical.IsSoftware())
        {
            EXPECT_EQ(Platform::Vulkan::Device::Create(Instance, Physical, Device), S_OK);
            break;
        }
    return Device;
}

} // namespace

TEST(VulkanCommandStream, BatchesCountUpAndKeepWhatTheyUseUntilDone)
{
    const std::shared_ptr<Platform::Vulkan::Device> Device = SoftwareDevice();
    ASSERT_TRUE(Device);
    Platform::Vulkan::CommandStream Stream(Device);
    ASSERT_EQ(Stream.Initialize(), S_OK);

    // Nothing recorded: nothing to submit, the value stays.
    EXPECT_FALSE(Stream.HasWork());
    EXPECT_EQ(Stream.CurrentValue(), 1u);
    EXPECT_EQ(Stream.Submit(), S_OK);
    EXPECT_EQ(Stream.CurrentValue(), 1u);
    EXPECT_EQ(Stream.CompletedValue(), 0u);

    // A batch keeps its objects until it has completed and is retired.
    ASSERT_NE(Stream.Commands(), VK_NULL_HANDLE);
    EXPECT_EQ(Stream.Commands(), Stream.Commands()); // one buffer per batch
    EXPECT_TRUE(Stream.HasWork());
    auto Object = std::make_shared<int>(1);
    const std::weak_ptr<int> Watch = Object;
    Stream.Keep(std::move(Object));
    ASSERT_EQ(Stream.Submit(), S_OK);
    EXPECT_FALSE(Stream.HasWork());
    EXPECT_EQ(Stream.CurrentValue(), 2u);
    EXPECT_FALSE(Watch.expired());
    ASSERT_EQ(Stream.Wait(1), S_OK);
    EXPECT_GE(Stream.CompletedValue(), 1u);
    Stream.Retire();
    EXPECT_TRUE(Watch.expired());

    // The next batch reuses the retired buffer and signals the next value.
    ASSERT_NE(Stream.Commands(), VK_NULL_HANDLE);
    ASSERT_EQ(Stream.Submit(), S_OK);
    ASSERT_EQ(Stream.Wait(2), S_OK);
    EXPECT_EQ(Stream.CompletedValue(), 2u);
}

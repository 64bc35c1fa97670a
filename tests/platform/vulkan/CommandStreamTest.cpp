// The command stream of a device on the software adapter: batches, their
// values, and what they keep alive.

#include <memory>

#include <gtest/gtest.h>

#include "platform/vulkan/SoftwareContext.h"
#include "vulkan/CommandStream.h"

using Testing::SoftwareDevice;

TEST(VulkanCommandStream, BatchesCountUpAndKeepWhatTheyUseUntilDone)
{
    const std::shared_ptr<Platform::Vulkan::Device> Device = SoftwareDevice();
    ASSERT_TRUE(Device);
    Platform::Vulkan::CommandStream Stream(Device);
    ASSERT_EQ(Stream.Initialize(), VK_SUCCESS);

    // Nothing recorded: nothing to submit, the value stays.
    EXPECT_FALSE(Stream.HasWork());
    EXPECT_EQ(Stream.CurrentValue(), 1u);
    EXPECT_EQ(Stream.Submit(), VK_SUCCESS);
    EXPECT_EQ(Stream.CurrentValue(), 1u);
    EXPECT_EQ(Stream.CompletedValue(), 0u);

    // A batch keeps its objects until it has completed and is retired.
    ASSERT_NE(Stream.Commands(), VK_NULL_HANDLE);
    EXPECT_EQ(Stream.Commands(), Stream.Commands()); // one buffer per batch
    EXPECT_TRUE(Stream.HasWork());
    auto Object = std::make_shared<int>(1);
    const std::weak_ptr<int> Watch = Object;
    Stream.Keep(std::move(Object));
    ASSERT_EQ(Stream.Submit(), VK_SUCCESS);
    EXPECT_FALSE(Stream.HasWork());
    EXPECT_EQ(Stream.CurrentValue(), 2u);
    EXPECT_FALSE(Watch.expired());
    ASSERT_EQ(Stream.Wait(1), VK_SUCCESS);
    EXPECT_GE(Stream.CompletedValue(), 1u);
    Stream.Retire();
    EXPECT_TRUE(Watch.expired());

    // The next batch reuses the retired buffer and signals the next value.
    ASSERT_NE(Stream.Commands(), VK_NULL_HANDLE);
    ASSERT_EQ(Stream.Submit(), VK_SUCCESS);
    ASSERT_EQ(Stream.Wait(2), VK_SUCCESS);
    EXPECT_EQ(Stream.CompletedValue(), 2u);
}

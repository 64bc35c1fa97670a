// How the back end reads failed Vulkan calls.

#include <cstdlib>

#include <gtest/gtest.h>

#include "support/AddressSpaceLimit.h"
#include "vulkan/Error.h"

using namespace Platform::Vulkan;

// A failed submission or wait: a hung device, memory that ran out, or a lost
// device for everything else.
TEST(Vulkan, DeviceFailuresBecomeHungOutOfMemoryOrLost)
{
    EXPECT_EQ(DeviceFailure(VK_TIMEOUT), VK_TIMEOUT);
    EXPECT_EQ(DeviceFailure(VK_ERROR_OUT_OF_DEVICE_MEMORY), VK_ERROR_OUT_OF_DEVICE_MEMORY);
    EXPECT_EQ(DeviceFailure(VK_ERROR_OUT_OF_POOL_MEMORY), VK_ERROR_OUT_OF_POOL_MEMORY);
    EXPECT_EQ(DeviceFailure(VK_ERROR_DEVICE_LOST), VK_ERROR_DEVICE_LOST);
    EXPECT_EQ(DeviceFailure(VK_ERROR_UNKNOWN), VK_ERROR_DEVICE_LOST);
    EXPECT_EQ(DeviceFailure(VK_ERROR_INITIALIZATION_FAILED), VK_ERROR_DEVICE_LOST);
    EXPECT_TRUE(OutOfMemory(VK_ERROR_MEMORY_MAP_FAILED));
    EXPECT_FALSE(OutOfMemory(VK_ERROR_DEVICE_LOST));
    EXPECT_FALSE(OutOfMemory(VK_SUCCESS));
}

// A driver that could not be started is out of memory only where the
// process has none left.
TEST(Vulkan, DriverStartFailsForMemoryOnlyWhenMemoryIsExhausted)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's shadow memory leaves no address-space limit to test against";
#endif
    EXPECT_EQ(DriverStartResult(VK_ERROR_INITIALIZATION_FAILED), VK_ERROR_INITIALIZATION_FAILED);
    EXPECT_EQ(DriverStartResult(VK_ERROR_INCOMPATIBLE_DRIVER), VK_ERROR_INCOMPATIBLE_DRIVER);
    EXPECT_EQ(DriverStartResult(VK_ERROR_OUT_OF_HOST_MEMORY), VK_ERROR_OUT_OF_HOST_MEMORY);
    EXPECT_EXIT(
        {
            if (!Testing::LimitAddressSpace(size_t(16) << 20))
                std::_Exit(2);
            const bool Failed = DriverStartResult(VK_ERROR_INITIALIZATION_FAILED) == VK_ERROR_OUT_OF_HOST_MEMORY &&
                                DriverStartResult(VK_ERROR_INCOMPATIBLE_DRIVER) == VK_ERROR_OUT_OF_HOST_MEMORY;
            // Results that name another cause keep it.
            const bool Kept = DriverStartResult(VK_ERROR_FEATURE_NOT_PRESENT) == VK_ERROR_FEATURE_NOT_PRESENT;
            std::_Exit(Failed && Kept ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

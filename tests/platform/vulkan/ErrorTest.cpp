// Vulkan results as HRESULTs.

#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <d3d10.h>
#include <d3d11.h>
#include <dxgi1_3.h>

#include "support/AddressSpaceLimit.h"
#include "support/Drawing.h"
#include "support/Graphics.h"

#include "Vulkan/Error.h"

using namespace Graphics;

TEST(Vulkan, FailuresBecomeTheMatchingHresult)
{
    using Platform::Vulkan::HresultFromVk;
    EXPECT_EQ(HresultFromVk(VK_SUCCESS), S_OK);
    EXPECT_EQ(HresultFromVk(VK_ERROR_OUT_OF_HOST_MEMORY), E_OUTOFMEMORY);
    EXPECT_EQ(HresultFromVk(VK_ERROR_OUT_OF_DEVICE_MEMORY), E_OUTOFMEMORY);
    EXPECT_EQ(HresultFromVk(VK_ERROR_DEVICE_LOST), DXGI_ERROR_DEVICE_REMOVED);
    EXPECT_EQ(HresultFromVk(VK_ERROR_FORMAT_NOT_SUPPORTED), DXGI_ERROR_UNSUPPORTED);
    EXPECT_EQ(HresultFromVk(VK_TIMEOUT), DXGI_ERROR_WAS_STILL_DRAWING);
    EXPECT_EQ(HresultFromVk(VK_ERROR_UNKNOWN), E_FAIL);
    // What a failed submission or wait makes of the device.
    using Platform::Vulkan::HresultFromDeviceFailure;
    EXPECT_EQ(HresultFromDeviceFailure(VK_TIMEOUT), DXGI_ERROR_DEVICE_HUNG);
    EXPECT_EQ(HresultFromDeviceFailure(VK_ERROR_DEVICE_LOST), DXGI_ERROR_DEVICE_REMOVED);
    EXPECT_EQ(HresultFromDeviceFailure(VK_ERROR_OUT_OF_DEVICE_MEMORY), E_OUTOFMEMORY);
}

// A driver that could not be started is out of memory only where the
// process has none left.
TEST(Vulkan, DriverStartFailsForMemoryOnlyWhenMemoryIsExhausted)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's shadow memory leaves no address-space limit to test against";
#endif
    using Platform::Vulkan::HresultFromDriverStart;
    EXPECT_EQ(HresultFromDriverStart(VK_ERROR_INITIALIZATION_FAILED), DXGI_ERROR_UNSUPPORTED);
    EXPECT_EQ(HresultFromDriverStart(VK_ERROR_INCOMPATIBLE_DRIVER), DXGI_ERROR_UNSUPPORTED);
    EXPECT_EQ(HresultFromDriverStart(VK_ERROR_OUT_OF_HOST_MEMORY), E_OUTOFMEMORY);
    EXPECT_EXIT(
        {
            if (!Testing::LimitAddressSpace(size_t(16) << 20))
                std::_Exit(2);
            const bool Failed = HresultFromDriverStart(VK_ERROR_INITIALIZATION_FAILED) == E_OUTOFMEMORY &&
                                HresultFromDriverStart(VK_ERROR_INCOMPATIBLE_DRIVER) == E_OUTOFMEMORY;
            // Results that name another cause keep it.
            const bool Kept = HresultFromDriverStart(VK_ERROR_FEATURE_NOT_PRESENT) == DXGI_ERROR_UNSUPPORTED;
            std::_Exit(Failed && Kept ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

// The HRESULTs that DXGI and Direct3D callers see of the back end's results.

#include <gtest/gtest.h>

#include <dxgi1_3.h>

#include "Dxgi/VulkanResults.h"

using Platform::Dxgi::HresultFromExport;
using Platform::Dxgi::HresultFromVk;

TEST(DxgiVulkanResults, EachResultBecomesTheMatchingHresult)
{
    EXPECT_EQ(HresultFromVk(VK_SUCCESS), S_OK);
    EXPECT_EQ(HresultFromVk(VK_INCOMPLETE), S_OK);
    EXPECT_EQ(HresultFromVk(VK_ERROR_OUT_OF_HOST_MEMORY), E_OUTOFMEMORY);
    EXPECT_EQ(HresultFromVk(VK_ERROR_OUT_OF_DEVICE_MEMORY), E_OUTOFMEMORY);
    EXPECT_EQ(HresultFromVk(VK_ERROR_FRAGMENTED_POOL), E_OUTOFMEMORY);
    EXPECT_EQ(HresultFromVk(VK_ERROR_MEMORY_MAP_FAILED), E_OUTOFMEMORY);
    EXPECT_EQ(HresultFromVk(VK_ERROR_FORMAT_NOT_SUPPORTED), DXGI_ERROR_UNSUPPORTED);
    EXPECT_EQ(HresultFromVk(VK_ERROR_FEATURE_NOT_PRESENT), DXGI_ERROR_UNSUPPORTED);
    EXPECT_EQ(HresultFromVk(VK_ERROR_INCOMPATIBLE_DRIVER), DXGI_ERROR_UNSUPPORTED);
    EXPECT_EQ(HresultFromVk(VK_ERROR_VALIDATION_FAILED_EXT), E_INVALIDARG);
    EXPECT_EQ(HresultFromVk(VK_ERROR_UNKNOWN), E_FAIL);
}

// A device's removal reasons: lost, hung (a wait past its limit), or out of
// memory; and work that is not done yet.
TEST(DxgiVulkanResults, DeviceStatesBecomeDxgiErrors)
{
    EXPECT_EQ(HresultFromVk(VK_ERROR_DEVICE_LOST), DXGI_ERROR_DEVICE_REMOVED);
    EXPECT_EQ(HresultFromVk(VK_TIMEOUT), DXGI_ERROR_DEVICE_HUNG);
    EXPECT_EQ(HresultFromVk(VK_NOT_READY), DXGI_ERROR_WAS_STILL_DRAWING);
}

TEST(DxgiVulkanResults, SharingThatTheDeviceLacksIsNotImplemented)
{
    EXPECT_EQ(HresultFromExport(VK_ERROR_FEATURE_NOT_PRESENT), E_NOTIMPL);
    EXPECT_EQ(HresultFromExport(VK_SUCCESS), S_OK);
    EXPECT_EQ(HresultFromExport(VK_ERROR_OUT_OF_DEVICE_MEMORY), E_OUTOFMEMORY);
    EXPECT_EQ(HresultFromExport(VK_ERROR_DEVICE_LOST), DXGI_ERROR_DEVICE_REMOVED);
}

// The regions of pixel copies, plane by plane.

#include <vector>

#include <gtest/gtest.h>

#include "vulkan/PixelCopies.h"

using namespace Platform::Vulkan;

namespace {

constexpr VkFormat Nv12 = VK_FORMAT_G8_B8R8_2PLANE_420_UNORM;

} // namespace

// One region for a single-plane format, the rectangle as it is.
TEST(VulkanPixelCopies, OnePlaneCopiesTheRectangle)
{
    const std::vector<VkImageCopy> Copies = ImageRegions(VK_FORMAT_B8G8R8A8_UNORM, {1, 2}, {3, 4}, {5, 6});
    ASSERT_EQ(Copies.size(), 1u);
    EXPECT_EQ(Copies[0].srcSubresource.aspectMask, VkImageAspectFlags(VK_IMAGE_ASPECT_COLOR_BIT));
    EXPECT_EQ(Copies[0].srcOffset.x, 1);
    EXPECT_EQ(Copies[0].srcOffset.y, 2);
    EXPECT_EQ(Copies[0].dstOffset.x, 3);
    EXPECT_EQ(Copies[0].dstOffset.y, 4);
    EXPECT_EQ(Copies[0].extent.width, 5u);
    EXPECT_EQ(Copies[0].extent.height, 6u);

    // Host rows of 64 bytes, 4 a texel, the rectangle at (2, 3) in them.
    const HostPlane Rows = {128, 64, 4};
    const std::vector<VkBufferImageCopy> Host =
        HostRegions(VK_FORMAT_B8G8R8A8_UNORM, {1, 2}, {&Rows, 1}, {2, 3}, {5, 6});
    ASSERT_EQ(Host.size(), 1u);
    EXPECT_EQ(Host[0].bufferOffset, 128u + 3 * 64 + 2 * 4);
    EXPECT_EQ(Host[0].bufferRowLength, 16u);
    EXPECT_EQ(Host[0].imageOffset.x, 1);
    EXPECT_EQ(Host[0].imageOffset.y, 2);
    EXPECT_EQ(Host[0].imageExtent.width, 5u);
    EXPECT_EQ(Host[0].imageExtent.height, 6u);
}

// NV12: luma as it is; the chroma plane (one U, V pair for 2x2 pixels) at
// half the offsets, half the extent, two bytes a texel.
TEST(VulkanPixelCopies, ChromaPlanesShrinkWithTheirSubsampling)
{
    const std::vector<VkImageCopy> Copies = ImageRegions(Nv12, {2, 4}, {6, 8}, {10, 12});
    ASSERT_EQ(Copies.size(), 2u);
    EXPECT_EQ(Copies[0].srcSubresource.aspectMask, VkImageAspectFlags(VK_IMAGE_ASPECT_PLANE_0_BIT));
    EXPECT_EQ(Copies[0].extent.width, 10u);
    EXPECT_EQ(Copies[1].srcSubresource.aspectMask, VkImageAspectFlags(VK_IMAGE_ASPECT_PLANE_1_BIT));
    EXPECT_EQ(Copies[1].dstSubresource.aspectMask, VkImageAspectFlags(VK_IMAGE_ASPECT_PLANE_1_BIT));
    EXPECT_EQ(Copies[1].srcOffset.x, 1);
    EXPECT_EQ(Copies[1].srcOffset.y, 2);
    EXPECT_EQ(Copies[1].dstOffset.x, 3);
    EXPECT_EQ(Copies[1].dstOffset.y, 4);
    EXPECT_EQ(Copies[1].extent.width, 5u);
    EXPECT_EQ(Copies[1].extent.height, 6u);

    // Luma rows of 256 bytes, then the chroma rows from 4096 on.
    const std::vector<HostPlane> Planes = {{0, 256, 1}, {4096, 256, 2}};
    const std::vector<VkBufferImageCopy> Host = HostRegions(Nv12, {2, 4}, Planes, {6, 8}, {10, 12});
    ASSERT_EQ(Host.size(), 2u);
    EXPECT_EQ(Host[0].bufferOffset, 8u * 256 + 6);
    EXPECT_EQ(Host[0].bufferRowLength, 256u);
    EXPECT_EQ(Host[0].imageSubresource.aspectMask, VkImageAspectFlags(VK_IMAGE_ASPECT_PLANE_0_BIT));
    EXPECT_EQ(Host[1].bufferOffset, 4096u + 4 * 256 + 3 * 2);
    EXPECT_EQ(Host[1].bufferRowLength, 128u);
    EXPECT_EQ(Host[1].imageSubresource.aspectMask, VkImageAspectFlags(VK_IMAGE_ASPECT_PLANE_1_BIT));
    EXPECT_EQ(Host[1].imageOffset.x, 1);
    EXPECT_EQ(Host[1].imageOffset.y, 2);
    EXPECT_EQ(Host[1].imageExtent.width, 5u);
    EXPECT_EQ(Host[1].imageExtent.height, 6u);
}

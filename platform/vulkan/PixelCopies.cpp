#include "PixelCopies.h"

#include "Vulkan/CommandContext.h"

namespace Platform::Vulkan {

namespace {

// A plane of an image: its aspect, and how many pixels share one of its
// texels across and down.
struct ImagePlane
{
    VkImageAspectFlags m_Aspect = VK_IMAGE_ASPECT_COLOR_BIT;
    uint32_t m_ScaleX = 1;
    uint32_t m_ScaleY = 1;
};

std::vector<ImagePlane> PlanesOf(VkFormat Format)
{
    switch (Format)
    {
    case VK_FORMAT_G8_B8R8_2PLANE_420_UNORM:
    case VK_FORMAT_G16_B16R16_2PLANE_420_UNORM:
        return {{VK_IMAGE_ASPECT_PLANE_0_BIT, 1, 1}, {VK_IMAGE_ASPECT_PLANE_1_BIT, 2, 2}};
    default: return {{}};
    }
}

VkOffset3D Scaled(VkOffset2D Offset, const ImagePlane& Plane)
{
    return {Offset.x / int32_t(Plane.m_ScaleX), Offset.y / int32_t(Plane.m_ScaleY), 0};
}

VkExtent3D Scaled(VkExtent2D Extent, const ImagePlane& Plane)
{
    return {Extent.width / Plane.m_ScaleX, Extent.height / Plane.m_ScaleY, 1};
}

bool Covers(const Image& Target, VkOffset2D To, VkExtent2D Extent)
{
    return To.x == 0 && To.y == 0 && Extent.width == Target.Width() && Extent.height == Target.Height();
}

} // namespace

std::vector<VkImageCopy> ImageRegions(VkFormat Format, VkOffset2D From, VkOffset2D To, VkExtent2D Extent)
{
    std::vector<VkImageCopy> Regions;
    for (const ImagePlane& Plane : PlanesOf(Format))
    {
        const VkImageSubresourceLayers Layers = {Plane.m_Aspect, 0, 0, 1};
        Regions.push_back({Layers, Scaled(From, Plane), Layers, Scaled(To, Plane), Scaled(Extent, Plane)});
    }
    return Regions;
}

std::vector<VkBufferImageCopy> HostRegions(VkFormat Format, VkOffset2D ImageOffset, std::span<const HostPlane> Planes,
                                           VkOffset2D BufferOffset, VkExtent2D Extent)
{
    const std::vector<ImagePlane> ImagePlanes = PlanesOf(Format);
    std::vector<VkBufferImageCopy> Regions;
    for (size_t Index = 0; Index < ImagePlanes.size() && Index < Planes.size(); ++Index)
    {
        const ImagePlane& Plane = ImagePlanes[Index];
        const HostPlane& Host = Planes[Index];
        const VkOffset3D At = Scaled(BufferOffset, Plane);
        VkBufferImageCopy Region = {};
        Region.bufferOffset = Host.m_Offset + uint64_t(At.y) * Host.m_RowPitch + uint64_t(At.x) * Host.m_TexelBytes;
        Region.bufferRowLength = Host.m_RowPitch / Host.m_TexelBytes;
        Region.imageSubresource = {Plane.m_Aspect, 0, 0, 1};
        Region.imageOffset = Scaled(ImageOffset, Plane);
        Region.imageExtent = Scaled(Extent, Plane);
        Regions.push_back(Region);
    }
    return Regions;
}

void CommandContext::CopyPixels(const std::shared_ptr<Image>& Source, VkOffset2D From,
                                const std::shared_ptr<Image>& Target, VkOffset2D To, VkExtent2D Extent)
{
    CopyImage(Source, Target, ImageRegions(Source->Format(), From, To, Extent), Covers(*Target, To, Extent));
}

void CommandContext::CopyPixels(const std::shared_ptr<Image>& Source, VkOffset2D From, const BufferSlice& Target,
                                std::span<const HostPlane> Planes, VkOffset2D To, VkExtent2D Extent)
{
    CopyImageToBuffer(Source, Target, HostRegions(Source->Format(), From, Planes, To, Extent));
}

void CommandContext::CopyPixels(const BufferSlice& Source, std::span<const HostPlane> Planes, VkOffset2D From,
                                const std::shared_ptr<Image>& Target, VkOffset2D To, VkExtent2D Extent)
{
    CopyBufferToImage(Source, Target, HostRegions(Target->Format(), To, Planes, From, Extent),
                      Covers(*Target, To, Extent));
}

} // namespace Platform::Vulkan

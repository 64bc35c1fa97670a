// The regions of the command context's pixel copies, plane by plane: each
// plane's share of a rectangle shrinks with its subsampling (the chroma
// plane of a 4:2:0 format: by half across and down).
#pragma once

#include <span>
#include <vector>

#include <vulkan/vulkan.h>

#include "Vulkan/Operations.h"

namespace Platform::Vulkan {

// Between two images of Format.
std::vector<VkImageCopy> ImageRegions(VkFormat Format, VkOffset2D From, VkOffset2D To, VkExtent2D Extent);
// Between an image of Format at ImageOffset and a buffer whose planes lie as
// Planes say, at BufferOffset.
std::vector<VkBufferImageCopy> HostRegions(VkFormat Format, VkOffset2D ImageOffset, std::span<const HostPlane> Planes,
                                           VkOffset2D BufferOffset, VkExtent2D Extent);

} // namespace Platform::Vulkan

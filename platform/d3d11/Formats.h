// DXGI formats as Vulkan formats, and how their texels lie in host memory.
#pragma once

#include <cstdint>
#include <vector>

#include <vulkan/vulkan.h>

#include <dxgiformat.h>

#include "D3D11/Readback.h"
#include "Vulkan/Operations.h"

namespace Platform::D3D11 {

struct FormatInfo
{
    DXGI_FORMAT m_Dxgi;
    VkFormat m_Vulkan;
    uint32_t m_TexelBytes; // of the first plane; YUY2 counts 2 bytes a pixel
    uint32_t m_Planes;
    bool m_Texture;  // usable for textures (else only for vertices)
    bool m_EvenSize; // chroma subsampled: width (and height when planar) even
    // The typeless format of its family: formats of one family copy into
    // each other bit for bit.
    DXGI_FORMAT m_Family;
};

// Null for a format that this platform does not know.
const FormatInfo* FindFormat(DXGI_FORMAT Format);

std::vector<PlaneLayout> HostLayout(const FormatInfo& Format, uint32_t Width, uint32_t Height);
uint64_t HostSize(const std::vector<PlaneLayout>& Layout);
// Layout's planes, for the copies between host memory and images.
std::vector<Vulkan::HostPlane> HostPlanes(const std::vector<PlaneLayout>& Layout);

} // namespace Platform::D3D11

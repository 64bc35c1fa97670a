// DXGI formats as Vulkan formats, and how their texels lie in host memory.
#pragma once

#include <cstdint>
#include <vector>

#include <vulkan/vulkan.h>

#include <dxgiformat.h>

namespace Platform::D3D11 {

struct FormatInfo
{
    DXGI_FORMAT m_Dxgi;
    VkFormat m_Vulkan;
    uint32_t m_TexelBytes; // of the first plane; YUY2 counts 2 bytes a pixel
    uint32_t m_Planes;
    bool m_Texture; // usable for textures (else only for vertices)
    bool m_EvenSize; // chroma subsampled: width (and height when planar) even
    // The typeless format of its family: formats of one family copy into
    // each other bit for bit.
    DXGI_FORMAT m_Family;
};

// Null for a format that this platform does not know.
const FormatInfo* FindFormat(DXGI_FORMAT Format);

// One plane of a texture in host memory: where its rows start and how far
// apart they lie. Planes follow each other with the same row pitch, as
// Direct3D lays out NV12.
struct PlaneLayout
{
    VkImageAspectFlagBits m_Aspect;
    uint32_t m_Width; // in texels of the plane
    uint32_t m_Height;
    uint32_t m_TexelBytes;
    uint64_t m_Offset;
    uint32_t m_RowPitch;
};

std::vector<PlaneLayout> HostLayout(const FormatInfo& Format, uint32_t Width, uint32_t Height);
uint64_t HostSize(const std::vector<PlaneLayout>& Layout);

} // namespace Platform::D3D11

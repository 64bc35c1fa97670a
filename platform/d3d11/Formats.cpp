#include "Formats.h"

namespace Platform::D3D11 {

namespace {

constexpr FormatInfo Formats[] = {
    {DXGI_FORMAT_R32G32B32A32_FLOAT, VK_FORMAT_R32G32B32A32_SFLOAT, 16, 1, true, false,
     DXGI_FORMAT_R32G32B32A32_TYPELESS},
    {DXGI_FORMAT_R32G32B32A32_UINT, VK_FORMAT_R32G32B32A32_UINT, 16, 1, true, false, DXGI_FORMAT_R32G32B32A32_TYPELESS},
    {DXGI_FORMAT_R32G32B32A32_SINT, VK_FORMAT_R32G32B32A32_SINT, 16, 1, true, false, DXGI_FORMAT_R32G32B32A32_TYPELESS},
    {DXGI_FORMAT_R32G32B32_FLOAT, VK_FORMAT_R32G32B32_SFLOAT, 12, 1, false, false, DXGI_FORMAT_R32G32B32_TYPELESS},
    {DXGI_FORMAT_R32G32B32_UINT, VK_FORMAT_R32G32B32_UINT, 12, 1, false, false, DXGI_FORMAT_R32G32B32_TYPELESS},
    {DXGI_FORMAT_R32G32B32_SINT, VK_FORMAT_R32G32B32_SINT, 12, 1, false, false, DXGI_FORMAT_R32G32B32_TYPELESS},
    {DXGI_FORMAT_R16G16B16A16_FLOAT, VK_FORMAT_R16G16B16A16_SFLOAT, 8, 1, true, false,
     DXGI_FORMAT_R16G16B16A16_TYPELESS},
    {DXGI_FORMAT_R16G16B16A16_UNORM, VK_FORMAT_R16G16B16A16_UNORM, 8, 1, true, false,
     DXGI_FORMAT_R16G16B16A16_TYPELESS},
    {DXGI_FORMAT_R32G32_FLOAT, VK_FORMAT_R32G32_SFLOAT, 8, 1, true, false, DXGI_FORMAT_R32G32_TYPELESS},
    {DXGI_FORMAT_R32G32_UINT, VK_FORMAT_R32G32_UINT, 8, 1, true, false, DXGI_FORMAT_R32G32_TYPELESS},
    {DXGI_FORMAT_R32G32_SINT, VK_FORMAT_R32G32_SINT, 8, 1, true, false, DXGI_FORMAT_R32G32_TYPELESS},
    {DXGI_FORMAT_R10G10B10A2_UNORM, VK_FORMAT_A2B10G10R10_UNORM_PACK32, 4, 1, true, false,
     DXGI_FORMAT_R10G10B10A2_TYPELESS},
    {DXGI_FORMAT_R8G8B8A8_UNORM, VK_FORMAT_R8G8B8A8_UNORM, 4, 1, true, false, DXGI_FORMAT_R8G8B8A8_TYPELESS},
    {DXGI_FORMAT_R8G8B8A8_UNORM_SRGB, VK_FORMAT_R8G8B8A8_SRGB, 4, 1, true, false, DXGI_FORMAT_R8G8B8A8_TYPELESS},
    {DXGI_FORMAT_R8G8B8A8_UINT, VK_FORMAT_R8G8B8A8_UINT, 4, 1, true, false, DXGI_FORMAT_R8G8B8A8_TYPELESS},
    {DXGI_FORMAT_R16G16_FLOAT, VK_FORMAT_R16G16_SFLOAT, 4, 1, true, false, DXGI_FORMAT_R16G16_TYPELESS},
    {DXGI_FORMAT_R32_FLOAT, VK_FORMAT_R32_SFLOAT, 4, 1, true, false, DXGI_FORMAT_R32_TYPELESS},
    {DXGI_FORMAT_R32_UINT, VK_FORMAT_R32_UINT, 4, 1, true, false, DXGI_FORMAT_R32_TYPELESS},
    {DXGI_FORMAT_R32_SINT, VK_FORMAT_R32_SINT, 4, 1, true, false, DXGI_FORMAT_R32_TYPELESS},
    {DXGI_FORMAT_R8G8_UNORM, VK_FORMAT_R8G8_UNORM, 2, 1, true, false, DXGI_FORMAT_R8G8_TYPELESS},
    {DXGI_FORMAT_R16_FLOAT, VK_FORMAT_R16_SFLOAT, 2, 1, true, false, DXGI_FORMAT_R16_TYPELESS},
    {DXGI_FORMAT_R16_UNORM, VK_FORMAT_R16_UNORM, 2, 1, true, false, DXGI_FORMAT_R16_TYPELESS},
    {DXGI_FORMAT_R16_UINT, VK_FORMAT_R16_UINT, 2, 1, true, false, DXGI_FORMAT_R16_TYPELESS},
    {DXGI_FORMAT_R8_UNORM, VK_FORMAT_R8_UNORM, 1, 1, true, false, DXGI_FORMAT_R8_TYPELESS},
    {DXGI_FORMAT_B8G8R8A8_UNORM, VK_FORMAT_B8G8R8A8_UNORM, 4, 1, true, false, DXGI_FORMAT_B8G8R8A8_TYPELESS},
    {DXGI_FORMAT_B8G8R8A8_UNORM_SRGB, VK_FORMAT_B8G8R8A8_SRGB, 4, 1, true, false, DXGI_FORMAT_B8G8R8A8_TYPELESS},
    {DXGI_FORMAT_NV12, VK_FORMAT_G8_B8R8_2PLANE_420_UNORM, 1, 2, true, true, DXGI_FORMAT_NV12},
    {DXGI_FORMAT_YUY2, VK_FORMAT_G8B8G8R8_422_UNORM, 2, 1, true, true, DXGI_FORMAT_YUY2},
};

constexpr uint32_t RowAlignment = 256;

} // namespace

const FormatInfo* FindFormat(DXGI_FORMAT Format)
{
    for (const FormatInfo& Info : Formats)
        if (Info.m_Dxgi == Format)
            return &Info;
    return nullptr;
}

std::vector<PlaneLayout> HostLayout(const FormatInfo& Format, uint32_t Width, uint32_t Height)
{
    const uint32_t RowPitch = (Width * Format.m_TexelBytes + RowAlignment - 1) / RowAlignment * RowAlignment;
    std::vector<PlaneLayout> Layout;
    if (Format.m_Planes == 2)
    {
        Layout.push_back({Width, Height, 1, 0, RowPitch});
        Layout.push_back({Width / 2, Height / 2, 2, uint64_t(RowPitch) * Height, RowPitch});
    }
    else
        Layout.push_back({Width, Height, Format.m_TexelBytes, 0, RowPitch});
    return Layout;
}

uint64_t HostSize(const std::vector<PlaneLayout>& Layout)
{
    const PlaneLayout& Last = Layout.back();
    return Last.m_Offset + uint64_t(Last.m_RowPitch) * Last.m_Height;
}

std::vector<Vulkan::HostPlane> HostPlanes(const std::vector<PlaneLayout>& Layout)
{
    std::vector<Vulkan::HostPlane> Planes;
    for (const PlaneLayout& Plane : Layout)
        Planes.push_back({Plane.m_Offset, Plane.m_RowPitch, Plane.m_TexelBytes});
    return Planes;
}

} // namespace Platform::D3D11

// Where a device of this platform renders, for the platform's consumers that
// must work on the same adapter (the sink writer's encoder).
#pragma once

#include <cstdint>
#include <string>

#include <d3d11.h>

namespace Platform::D3D11 {

struct AdapterPlace
{
    bool m_Software = false; // a CPU device
    uint32_t m_VendorId = 0;
    std::string m_PciAddress; // "0000:01:00.0"; empty when the driver does not say
    int64_t m_RenderMajor = -1; // its DRM render node; -1 when the driver does not say
    int64_t m_RenderMinor = -1;
};

// The adapter of Device; false for a device that this platform did not make.
bool PlaceOf(ID3D11Device* Device, AdapterPlace& Place);

} // namespace Platform::D3D11

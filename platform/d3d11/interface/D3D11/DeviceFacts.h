// What the platform's consumers of a device may know of it: where it renders
// (for an encoder that must sit on the same adapter) and how busy it was.
#pragma once

#include <cstdint>
#include <string>

#include <d3d11.h>

namespace Platform::D3D11 {

struct AdapterPlace
{
    bool m_Software = false; // a CPU device
    uint32_t m_VendorId = 0;
    std::string m_PciAddress;   // "0000:01:00.0"; empty when the driver does not say
    int64_t m_RenderMajor = -1; // its DRM render node; -1 when the driver does not say
    int64_t m_RenderMinor = -1;
};

// The adapter of Device; false for a device that this platform did not make.
bool PlaceOf(ID3D11Device* Device, AdapterPlace& Place);

// Nanoseconds Device has been busy so far, counting every batch that has
// completed (0 where the device cannot time its work, or for a device that
// this platform did not make).
uint64_t BusyTimeOf(ID3D11Device* Device);

} // namespace Platform::D3D11

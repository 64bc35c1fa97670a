// What the Direct3D device takes from a DXGI adapter: the Vulkan physical
// device that stands behind it.
#pragma once

#include <cstddef>
#include <memory>

#include <dxgi.h>

namespace Platform::Vulkan {
class Instance;
}

namespace Platform::Dxgi {

struct AdapterBackend
{
    std::shared_ptr<Vulkan::Instance> m_Instance;
    size_t m_Index = 0; // among m_Instance's physical devices
};

// The backend of an adapter that this platform's factories made; false for
// any other adapter.
bool BackendOf(IDXGIAdapter* Adapter, AdapterBackend& Backend);

} // namespace Platform::Dxgi

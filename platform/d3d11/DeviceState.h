// What a Direct3D device and everything it made share: the Vulkan device, the
// command context that records for it, and the immediate context's lock.
// Device children hold it, so it outlives the device object when they do.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include "Dxgi/VulkanResults.h"
#include "Vulkan/CommandContext.h"
#include <d3d11.h>

namespace Platform::D3D11 {

// Where each stage's constant-buffer slots sit among the uniform bindings.
constexpr uint32_t ConstantBufferSlots = D3D11_COMMONSHADER_CONSTANT_BUFFER_API_SLOT_COUNT;
constexpr uint32_t VertexStageBindingBase = 0;
constexpr uint32_t PixelStageBindingBase = ConstantBufferSlots;

class DeviceState
{
public:
    static HRESULT Create(std::shared_ptr<Vulkan::Device> Device, D3D_FEATURE_LEVEL FeatureLevel, UINT Flags,
                          std::shared_ptr<DeviceState>& Result);
    DeviceState(const DeviceState&) = delete;
    DeviceState& operator=(const DeviceState&) = delete;

    const std::shared_ptr<Vulkan::Device>& Vulkan() const { return m_Vulkan; }
    D3D_FEATURE_LEVEL FeatureLevel() const { return m_FeatureLevel; }
    UINT CreationFlags() const { return m_CreationFlags; }
    uint64_t NextId() { return m_NextId.fetch_add(1, std::memory_order_relaxed); }

    // The device object that children report; cleared when it goes.
    void SetFront(ID3D11Device* Device);
    void GetDevice(ID3D11Device** Device);

    // The immediate context's lock, which serialises m_Commands. It is
    // always taken: the multithread protection flag only records what the
    // application asked for.
    std::recursive_mutex m_Lock;
    std::atomic<bool> m_MultithreadProtected{false};

    Vulkan::CommandContext m_Commands;

private:
    explicit DeviceState(std::shared_ptr<Vulkan::Device> Device);

    std::shared_ptr<Vulkan::Device> m_Vulkan;
    D3D_FEATURE_LEVEL m_FeatureLevel = D3D_FEATURE_LEVEL_11_0;
    UINT m_CreationFlags = 0;
    std::atomic<uint64_t> m_NextId{1};
    ID3D11Device* m_Front = nullptr;
};

} // namespace Platform::D3D11

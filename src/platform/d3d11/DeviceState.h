// What a Direct3D device and everything it made share: the Vulkan device, the
// command stream with its lock, the pipeline cache and the recording rules.
// Device children hold it, so it outlives the device object when they do.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "../vulkan/CommandStream.h"
#include "../vulkan/Memory.h"
#include "../vulkan/PipelineCache.h"
#include "d3d11.h"

namespace Platform::D3D11 {

class DeviceState
{
public:
    static HRESULT Create(std::shared_ptr<Vulkan::Device> Device, D3D_FEATURE_LEVEL FeatureLevel, UINT Flags,
                          std::shared_ptr<DeviceState>& Result);
    ~DeviceState();
    DeviceState(const DeviceState&) = delete;
    DeviceState& operator=(const DeviceState&) = delete;

    const std::shared_ptr<Vulkan::Device>& Vulkan() const { return m_Vulkan; }
    D3D_FEATURE_LEVEL FeatureLevel() const { return m_FeatureLevel; }
    UINT CreationFlags() const { return m_CreationFlags; }
    uint64_t NextId() { return m_NextId.fetch_add(1, std::memory_order_relaxed); }

    // The device object that children report; cleared when it goes.
    void SetFront(ID3D11Device* Device);
    void GetDevice(ID3D11Device** Device);

    // The immediate context's lock. It is always taken: the multithread
    // protection flag only records what the application asked for.
    std::recursive_mutex m_Lock;
    std::atomic<bool> m_MultithreadProtected{false};

    // Recording, all under m_Lock.
    // The command buffer for a transfer or a new render pass: the open render
    // pass ended and a barrier after all earlier work. Null when the device
    // cannot record (lost or out of memory).
    VkCommandBuffer BeginOperation();
    void EndRenderPass();
    // Records a clear that waits on Image, with a barrier after it.
    void ResolveClear(VkCommandBuffer Commands, Vulkan::Image& Image);
    // Keeps the object alive until the current batch completes and notes the
    // batch as its last use.
    void Use(const std::shared_ptr<Vulkan::Image>& Image);
    void Use(const std::shared_ptr<Vulkan::Buffer>& Buffer);
    void Keep(std::shared_ptr<void> Object) { m_Stream.Keep(std::move(Object)); }
    // Counts an operation and submits now and then, so that the device works
    // while the application records.
    void OperationDone();
    // Submits what is recorded; with Wait, waits until LastUse has completed.
    HRESULT SubmitUpTo(uint64_t LastUse, bool Wait);
    bool HasCompleted(uint64_t LastUse);
    // Records the first use of a new image: leaves the undefined layout.
    void InitializeImage(const std::shared_ptr<Vulkan::Image>& Image);

    Vulkan::CommandStream m_Stream;
    Vulkan::PipelineCache m_Pipelines;
    // Zeros for constant buffers that are not bound.
    std::shared_ptr<Vulkan::Buffer> m_ZeroBuffer;

    // The render pass being recorded, if any, and the pipeline bound in it.
    std::vector<std::shared_ptr<Vulkan::ImageView>> m_PassTargets;
    VkPipeline m_PassPipeline = VK_NULL_HANDLE;

private:
    explicit DeviceState(std::shared_ptr<Vulkan::Device> Device);

    std::shared_ptr<Vulkan::Device> m_Vulkan;
    D3D_FEATURE_LEVEL m_FeatureLevel = D3D_FEATURE_LEVEL_11_0;
    UINT m_CreationFlags = 0;
    std::atomic<uint64_t> m_NextId{1};
    ID3D11Device* m_Front = nullptr;
    uint32_t m_Operations = 0;
};

} // namespace Platform::D3D11

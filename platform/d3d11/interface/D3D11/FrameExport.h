// NV12 frames in device memory for another API on the same device (an
// encoder that reads them where they lie): a ring of exported buffers that
// the device's colour conversion writes, each handed over to the importer
// when written and taken back before it is written again. Not a Direct3D
// interface.
//
// Convert records under the device's lock; Wait may come from any thread.
// The caller decides which frame is free for writing.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include <d3d11.h>

namespace Platform::Vulkan {
class Buffer;
}

namespace Platform::D3D11 {

class DeviceState;

// One frame's memory as the importer takes it.
struct ExportedMemory
{
    int m_Descriptor = -1;         // a new file descriptor, the caller's to close or hand on
    uint64_t m_AllocationSize = 0; // of the memory behind it
    bool m_Dedicated = false;      // to be imported as a dedicated allocation
};

class FrameExport
{
public:
    // Count frames of Width x Height (even, 8-bit RGB textures of that size
    // converted into them) on Device, luma rows Pitch bytes apart (a
    // multiple of 4, at least Width), the chroma plane right after the luma
    // plane at Pitch x Height. E_NOTIMPL where the device cannot export its
    // memory; E_INVALIDARG for a device that this platform did not make.
    static HRESULT Create(ID3D11Device* Device, uint32_t Width, uint32_t Height, uint32_t Pitch, size_t Count,
                          std::unique_ptr<FrameExport>& Result);
    ~FrameExport();
    FrameExport(const FrameExport&) = delete;
    FrameExport& operator=(const FrameExport&) = delete;

    size_t Count() const { return m_Frames.size(); }
    uint32_t Pitch() const { return m_Pitch; }
    // The bytes of one frame: both planes.
    uint64_t FrameSize() const { return uint64_t(m_Pitch) * m_Height * 3 / 2; }
    // The identity of the device, as other APIs name it (its UUID).
    const std::array<uint8_t, 16>& DeviceUuid() const { return m_Uuid; }

    HRESULT ExportMemory(size_t Index, ExportedMemory& Memory) const;
    // A new file descriptor of the timeline whose values Convert answers;
    // E_NOTIMPL where the device cannot export it.
    HRESULT ExportTimeline(int& Descriptor) const;

    // Converts Texture into frame Index behind the work recorded on its
    // device and submits. Value: the timeline value that the device reaches
    // when the frame is written. E_INVALIDARG for a texture that cannot be
    // converted into the frames (another device, format or size).
    HRESULT Convert(ID3D11Texture2D* Texture, size_t Index, uint64_t& Value);
    // Waits on the host until the device reaches Value.
    HRESULT Wait(uint64_t Value) const;

private:
    FrameExport() = default;

    std::shared_ptr<DeviceState> m_State;
    std::vector<std::shared_ptr<Vulkan::Buffer>> m_Frames;
    std::array<uint8_t, 16> m_Uuid = {};
    uint32_t m_Width = 0;
    uint32_t m_Height = 0;
    uint32_t m_Pitch = 0;
};

} // namespace Platform::D3D11

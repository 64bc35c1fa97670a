// Which hardware encoder sits on the device that renders: NVENC only on an
// NVIDIA adapter, VA-API only on the render node of that same device. Frames
// rendered on one device and encoded on another would cross the bus twice.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace Platform {

// The device that renders the frames, as the encoder needs to know it.
struct FfmpegAdapter
{
    enum class Kind
    {
        Unknown,  // frames come from the host
        Software, // a CPU device: no hardware encoder sits on it
        Hardware,
    };
    Kind m_Kind = Kind::Unknown;
    uint32_t m_VendorId = 0;
    std::string m_PciAddress;   // "0000:01:00.0"; empty when the driver does not say
    int64_t m_RenderMajor = -1; // its DRM render node; -1 when the driver does not say
    int64_t m_RenderMinor = -1;
};

// One DRM render node of the machine.
struct FfmpegRenderNode
{
    std::string m_Path; // /dev/dri/renderD128
    int64_t m_Major = -1;
    int64_t m_Minor = -1;
    std::string m_PciAddress; // of the device behind it; empty for others
};

constexpr uint32_t FfmpegNvidiaVendorId = 0x10de;

// The render nodes under /dev/dri, with their numbers and PCI addresses.
std::vector<FfmpegRenderNode> FfmpegRenderNodes();

// The node of Adapter among Nodes: the one with its DRM numbers, else the one
// at its PCI address; empty for none (software adapters always).
std::string FfmpegMatchRenderNode(const FfmpegAdapter& Adapter, const std::vector<FfmpegRenderNode>& Nodes);

// The CUDA ordinal of the NVIDIA device that NVENC would use for Adapter,
// through Lookup (PCI address to ordinal, -1 for none); -1 when NVENC does
// not sit on Adapter.
int FfmpegNvencDevice(const FfmpegAdapter& Adapter, const std::function<int(const std::string&)>& Lookup);

// The CUDA driver's ordinal of the device at a PCI address; -1 without the
// driver or the device.
int FfmpegCudaOrdinal(const std::string& PciAddress);

} // namespace Platform

// The hardware encoder follows the adapter: matched on described machines,
// since none is at hand.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Ffmpeg/FfmpegHardware.h"

namespace {

using Platform::FfmpegAdapter;
using Platform::FfmpegRenderNode;

// A laptop: an integrated Intel GPU and a discrete NVIDIA one, each with its
// render node.
const std::vector<FfmpegRenderNode> Machine = {
    {"/dev/dri/renderD128", 226, 128, "0000:00:02.0"},
    {"/dev/dri/renderD129", 226, 129, "0000:01:00.0"},
};

FfmpegAdapter Hardware(uint32_t Vendor, std::string Pci, int64_t Major = -1, int64_t Minor = -1)
{
    FfmpegAdapter Adapter;
    Adapter.m_Kind = FfmpegAdapter::Kind::Hardware;
    Adapter.m_VendorId = Vendor;
    Adapter.m_PciAddress = std::move(Pci);
    Adapter.m_RenderMajor = Major;
    Adapter.m_RenderMinor = Minor;
    return Adapter;
}

// CUDA sees only the NVIDIA device, as its ordinal 0.
int Cuda(const std::string& Pci) { return Pci == "0000:01:00.0" ? 0 : -1; }

} // namespace

TEST(FfmpegHardware, VaapiOnlyOnTheRenderNodeOfTheAdapter)
{
    using Platform::FfmpegMatchRenderNode;
    // By DRM node numbers first, else by PCI address.
    EXPECT_EQ(FfmpegMatchRenderNode(Hardware(0x8086, "0000:00:02.0", 226, 128), Machine), "/dev/dri/renderD128");
    EXPECT_EQ(FfmpegMatchRenderNode(Hardware(0x10de, "", 226, 129), Machine), "/dev/dri/renderD129");
    EXPECT_EQ(FfmpegMatchRenderNode(Hardware(0x8086, "0000:00:02.0"), Machine), "/dev/dri/renderD128");
    EXPECT_EQ(FfmpegMatchRenderNode(Hardware(0x10de, "0000:01:00.0"), Machine), "/dev/dri/renderD129");
    // Numbers that name no node here: no node, even where the PCI address would.
    EXPECT_EQ(FfmpegMatchRenderNode(Hardware(0x8086, "0000:00:02.0", 226, 130), Machine), "");
    // A device elsewhere, or one that does not say where it sits.
    EXPECT_EQ(FfmpegMatchRenderNode(Hardware(0x1002, "0000:03:00.0"), Machine), "");
    EXPECT_EQ(FfmpegMatchRenderNode(Hardware(0x1002, ""), Machine), "");
    // A software adapter never gets one, wherever it claims to be.
    FfmpegAdapter Software = Hardware(0x10005, "0000:00:02.0", 226, 128);
    Software.m_Kind = FfmpegAdapter::Kind::Software;
    EXPECT_EQ(FfmpegMatchRenderNode(Software, Machine), "");
    EXPECT_EQ(FfmpegMatchRenderNode(FfmpegAdapter(), Machine), "");
}

TEST(FfmpegHardware, NvencOnlyForAnNvidiaAdapterOnItsOwnDevice)
{
    using Platform::FfmpegNvencDevice;
    EXPECT_EQ(FfmpegNvencDevice(Hardware(0x10de, "0000:01:00.0"), Cuda), 0);
    // The Intel adapter renders: NVENC would encode on another device.
    EXPECT_EQ(FfmpegNvencDevice(Hardware(0x8086, "0000:00:02.0"), Cuda), -1);
    // An NVIDIA adapter that CUDA does not know, or that does not say where it sits.
    EXPECT_EQ(FfmpegNvencDevice(Hardware(0x10de, "0000:05:00.0"), Cuda), -1);
    bool Asked = false;
    EXPECT_EQ(FfmpegNvencDevice(Hardware(0x10de, ""), [&](const std::string&) { return Asked = true, 0; }), -1);
    EXPECT_FALSE(Asked);
    FfmpegAdapter Software = Hardware(0x10de, "0000:01:00.0");
    Software.m_Kind = FfmpegAdapter::Kind::Software;
    EXPECT_EQ(FfmpegNvencDevice(Software, Cuda), -1);
}

TEST(FfmpegHardware, RenderNodesOfThisMachineAreCharacterDevices)
{
    for (const FfmpegRenderNode& Node : Platform::FfmpegRenderNodes())
    {
        EXPECT_EQ(Node.m_Path.rfind("/dev/dri/renderD", 0), 0u) << Node.m_Path;
        EXPECT_GE(Node.m_Major, 0) << Node.m_Path;
    }
    // Without the CUDA driver (or with it), an address of no device has no ordinal.
    EXPECT_EQ(Platform::FfmpegCudaOrdinal("ffff:ff:1f.7"), -1);
}

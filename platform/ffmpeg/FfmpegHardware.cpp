#include "Ffmpeg/FfmpegHardware.h"

#include <dlfcn.h>
#include <filesystem>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace Platform {

std::vector<FfmpegRenderNode> FfmpegRenderNodes()
{
    std::vector<FfmpegRenderNode> Nodes;
    std::error_code Error;
    for (const auto& Entry : std::filesystem::directory_iterator("/dev/dri", Error))
    {
        const std::string Name = Entry.path().filename().string();
        struct stat Status;
        if (Name.rfind("renderD", 0) != 0 || stat(Entry.path().c_str(), &Status) != 0 || !S_ISCHR(Status.st_mode))
            continue;
        FfmpegRenderNode Node;
        Node.m_Path = Entry.path().string();
        Node.m_Major = major(Status.st_rdev);
        Node.m_Minor = minor(Status.st_rdev);
        // The device folder of a PCI device is named after its address.
        const auto Device = std::filesystem::canonical("/sys/class/drm/" + Name + "/device", Error);
        if (!Error && std::filesystem::exists(Device / "vendor"))
            Node.m_PciAddress = Device.filename().string();
        Error.clear();
        Nodes.push_back(std::move(Node));
    }
    return Nodes;
}

std::string FfmpegMatchRenderNode(const FfmpegAdapter& Adapter, const std::vector<FfmpegRenderNode>& Nodes)
{
    if (Adapter.m_Kind != FfmpegAdapter::Kind::Hardware)
        return {};
    if (Adapter.m_RenderMajor >= 0)
    {
        for (const FfmpegRenderNode& Node : Nodes)
            if (Node.m_Major == Adapter.m_RenderMajor && Node.m_Minor == Adapter.m_RenderMinor)
                return Node.m_Path;
        return {};
    }
    if (!Adapter.m_PciAddress.empty())
        for (const FfmpegRenderNode& Node : Nodes)
            if (Node.m_PciAddress == Adapter.m_PciAddress)
                return Node.m_Path;
    return {};
}

int FfmpegNvencDevice(const FfmpegAdapter& Adapter, const std::function<int(const std::string&)>& Lookup)
{
    if (Adapter.m_Kind != FfmpegAdapter::Kind::Hardware || Adapter.m_VendorId != FfmpegNvidiaVendorId ||
        Adapter.m_PciAddress.empty())
        return -1;
    return Lookup(Adapter.m_PciAddress);
}

int FfmpegCudaOrdinal(const std::string& PciAddress)
{
    // The CUDA driver is NVENC's own dependency: without it there is no NVENC.
    void* Library = dlopen("libcuda.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!Library)
        return -1;
    using InitFunction = int (*)(unsigned);
    using ByBusIdFunction = int (*)(int*, const char*);
    const auto Init = reinterpret_cast<InitFunction>(dlsym(Library, "cuInit"));
    const auto ByBusId = reinterpret_cast<ByBusIdFunction>(dlsym(Library, "cuDeviceGetByPCIBusId"));
    int Ordinal = -1;
    if (!Init || !ByBusId || Init(0) != 0 || ByBusId(&Ordinal, PciAddress.c_str()) != 0)
        Ordinal = -1;
    // The library stays loaded: NVENC loads it again anyway.
    return Ordinal;
}

} // namespace Platform

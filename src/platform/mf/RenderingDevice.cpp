#include "RenderingDevice.h"

#include <cstdio>

#include "../d3d11/Device.h"
#include "mfidl.h"

namespace Platform {

namespace {

// The faster way for a software adapter, measured at 1920x1080 on the 2-core
// development machine with lavapipe (scripts/bench_conversion.sh and
// bench_pipeline.sh, README): on the host. Lavapipe's compute pass takes
// longer than reading 4 bytes a pixel back and libswscale together, and it
// runs on the rendering threads, where the host's conversion runs beside them.
constexpr bool SoftwareConvertsOnDevice = false;

} // namespace

Microsoft::WRL::ComPtr<ID3D11Device> ManagedDevice(IMFDXGIDeviceManager* Manager)
{
    Microsoft::WRL::ComPtr<ID3D11Device> Device;
    HANDLE Handle = nullptr;
    if (!Manager || FAILED(Manager->OpenDeviceHandle(&Handle)))
        return Device;
    Manager->GetVideoService(Handle, IID_PPV_ARGS(&Device));
    Manager->CloseDeviceHandle(Handle);
    return Device;
}

FfmpegAdapter DescribeAdapter(ID3D11Device* Device)
{
    FfmpegAdapter Adapter;
    if (!Device)
        return Adapter;
    const Vulkan::PhysicalDevice& Physical = D3D11::Device::StateOf(Device)->Vulkan()->Adapter();
    Adapter.m_Kind = Physical.IsSoftware() ? FfmpegAdapter::Kind::Software : FfmpegAdapter::Kind::Hardware;
    Adapter.m_VendorId = Physical.m_Properties.vendorID;
    if (const auto& Pci = Physical.m_PciAddress)
    {
        char Text[32];
        std::snprintf(Text, sizeof Text, "%04x:%02x:%02x.%x", Pci->m_Domain, Pci->m_Bus, Pci->m_Device,
                      Pci->m_Function);
        Adapter.m_PciAddress = Text;
    }
    if (const auto& Node = Physical.m_RenderNode)
    {
        Adapter.m_RenderMajor = Node->m_Major;
        Adapter.m_RenderMinor = Node->m_Minor;
    }
    return Adapter;
}

uint64_t DeviceBusyTime(ID3D11Device* Device)
{
    if (!Device)
        return 0;
    const std::shared_ptr<D3D11::DeviceState> State = D3D11::Device::StateOf(Device);
    std::lock_guard Guard(State->m_Lock);
    Vulkan::CommandStream& Stream = State->m_Commands.Stream();
    Stream.Retire();
    return Stream.BusyTime();
}

bool ConvertsOnDevice(const FfmpegAdapter& Adapter, SinkWriterConversion Asked)
{
    if (Adapter.m_Kind == FfmpegAdapter::Kind::Unknown || Asked == SinkWriterConversionHost)
        return false;
    if (Asked == SinkWriterConversionDevice || Adapter.m_Kind == FfmpegAdapter::Kind::Hardware)
        return true;
    return SoftwareConvertsOnDevice;
}

} // namespace Platform

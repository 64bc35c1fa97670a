#include "RenderingDevice.h"

#include "D3D11/DeviceFacts.h"
#include <mfidl.h>

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
    D3D11::AdapterPlace Place;
    if (!D3D11::PlaceOf(Device, Place))
        return Adapter;
    Adapter.m_Kind = Place.m_Software ? FfmpegAdapter::Kind::Software : FfmpegAdapter::Kind::Hardware;
    Adapter.m_VendorId = Place.m_VendorId;
    Adapter.m_PciAddress = Place.m_PciAddress;
    Adapter.m_RenderMajor = Place.m_RenderMajor;
    Adapter.m_RenderMinor = Place.m_RenderMinor;
    return Adapter;
}

bool ConvertsOnDevice(const FfmpegAdapter& Adapter, SinkWriterConversion Asked)
{
    if (Adapter.m_Kind == FfmpegAdapter::Kind::Unknown || Asked == SinkWriterConversionHost ||
        Asked == SinkWriterConversionHostReadback)
        return false;
    if (Asked == SinkWriterConversionDevice || Adapter.m_Kind == FfmpegAdapter::Kind::Hardware)
        return true;
    return SoftwareConvertsOnDevice;
}

} // namespace Platform

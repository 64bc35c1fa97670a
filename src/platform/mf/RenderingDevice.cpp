#include "RenderingDevice.h"

#include <cstdio>

#include "../d3d11/Device.h"
#include "mfidl.h"

namespace Platform {

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

} // namespace Platform

#include "Adapter.h"

#include <cwchar>

#include <d3d11.h>

#include "Com/Implementation.h"
#include "Dxgi/AdapterBackend.h"

namespace Platform::Dxgi {

namespace {

template <typename Description>
void Describe(const AdapterDescription& Source, Description& Target)
{
    Target = {};
    std::wcsncpy(Target.Description, Source.m_Name.c_str(), std::size(Target.Description) - 1);
    Target.VendorId = Source.m_VendorId;
    Target.DeviceId = Source.m_DeviceId;
    Target.SubSysId = 0;
    Target.Revision = Source.m_Revision;
    Target.DedicatedVideoMemory = Source.m_DedicatedVideoMemory;
    Target.DedicatedSystemMemory = Source.m_DedicatedSystemMemory;
    Target.SharedSystemMemory = Source.m_SharedSystemMemory;
    Target.AdapterLuid = Source.m_Luid;
}

} // namespace

Adapter::Adapter(std::shared_ptr<Vulkan::Instance> Instance, size_t Index, IDXGIFactory* Parent)
    : m_Instance(std::move(Instance)),
      m_Index(Index),
      m_Parent(Parent),
      m_Description(DescribeAdapter(m_Instance->PhysicalDevices(), Index))
{}

STDMETHODIMP Adapter::SetPrivateData(REFGUID, UINT, const void*) { return E_NOTIMPL; }
STDMETHODIMP Adapter::SetPrivateDataInterface(REFGUID, const IUnknown*) { return E_NOTIMPL; }
STDMETHODIMP Adapter::GetPrivateData(REFGUID, UINT*, void*) { return DXGI_ERROR_NOT_FOUND; }

STDMETHODIMP Adapter::GetParent(REFIID Riid, void** Parent)
{
    if (!Parent)
        return E_INVALIDARG;
    *Parent = nullptr;
    return m_Parent ? m_Parent->QueryInterface(Riid, Parent) : E_NOINTERFACE;
}

STDMETHODIMP Adapter::EnumOutputs(UINT, IDXGIOutput** Result)
{
    if (Result)
        *Result = nullptr;
    return DXGI_ERROR_NOT_FOUND;
}

STDMETHODIMP Adapter::GetDesc(DXGI_ADAPTER_DESC* Desc)
{
    if (!Desc)
        return E_INVALIDARG;
    Describe(m_Description, *Desc);
    return S_OK;
}

STDMETHODIMP Adapter::GetDesc1(DXGI_ADAPTER_DESC1* Desc)
{
    if (!Desc)
        return E_INVALIDARG;
    Describe(m_Description, *Desc);
    Desc->Flags = m_Description.m_Flags;
    return S_OK;
}

STDMETHODIMP Adapter::CheckInterfaceSupport(REFGUID InterfaceName, LARGE_INTEGER* UMDVersion)
{
    // Only Direct3D 11 devices are made here, and DXGI asks this only of
    // older interfaces.
    (void)InterfaceName;
    if (UMDVersion)
        UMDVersion->QuadPart = 0;
    return DXGI_ERROR_UNSUPPORTED;
}

bool BackendOf(IDXGIAdapter* Adapter, AdapterBackend& Backend)
{
    const auto* Object = ImplementationOf<Dxgi::Adapter>(Adapter);
    if (!Object)
        return false;
    Backend.m_Instance = Object->Instance();
    Backend.m_Index = Object->Index();
    return true;
}

} // namespace Platform::Dxgi

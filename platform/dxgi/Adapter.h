// IDXGIAdapter1 over a Vulkan physical device.
#pragma once

#include <memory>

#include <wrl/implements.h>

#include "Vulkan/Instance.h"
#include "AdapterDescription.h"
#include <dxgi.h>

namespace Platform::Dxgi {

class Adapter
    : public Microsoft::WRL::RuntimeClass<Microsoft::WRL::RuntimeClassFlags<Microsoft::WRL::ClassicCom>,
                                          Microsoft::WRL::ChainInterfaces<IDXGIAdapter1, IDXGIAdapter, IDXGIObject>>
{
public:
    // Parent is the factory that enumerated the adapter, if any.
    Adapter(std::shared_ptr<Vulkan::Instance> Instance, size_t Index, IDXGIFactory* Parent = nullptr);

    STDMETHODIMP SetPrivateData(REFGUID Name, UINT DataSize, const void* Data) override;
    STDMETHODIMP SetPrivateDataInterface(REFGUID Name, const IUnknown* Unknown) override;
    STDMETHODIMP GetPrivateData(REFGUID Name, UINT* DataSize, void* Data) override;
    STDMETHODIMP GetParent(REFIID Riid, void** Parent) override;
    STDMETHODIMP EnumOutputs(UINT Output, IDXGIOutput** Result) override;
    STDMETHODIMP GetDesc(DXGI_ADAPTER_DESC* Desc) override;
    STDMETHODIMP CheckInterfaceSupport(REFGUID InterfaceName, LARGE_INTEGER* UMDVersion) override;
    STDMETHODIMP GetDesc1(DXGI_ADAPTER_DESC1* Desc) override;

    const std::shared_ptr<Vulkan::Instance>& Instance() const { return m_Instance; }
    size_t Index() const { return m_Index; }

private:
    std::shared_ptr<Vulkan::Instance> m_Instance;
    size_t m_Index;
    Microsoft::WRL::ComPtr<IDXGIFactory> m_Parent;
    AdapterDescription m_Description;
};

} // namespace Platform::Dxgi

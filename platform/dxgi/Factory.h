// IDXGIFactory1: the adapters of the machine, in DXGI's order.
#pragma once

#include <memory>

#include <wrl/implements.h>

#include "Vulkan/Instance.h"
#include <dxgi.h>

namespace Platform::Dxgi {

class Factory
    : public Microsoft::WRL::RuntimeClass<Microsoft::WRL::RuntimeClassFlags<Microsoft::WRL::ClassicCom>,
                                          Microsoft::WRL::ChainInterfaces<IDXGIFactory1, IDXGIFactory, IDXGIObject>>
{
public:
    explicit Factory(std::shared_ptr<Vulkan::Instance> Instance) : m_Instance(std::move(Instance)) {}

    STDMETHODIMP SetPrivateData(REFGUID Name, UINT DataSize, const void* Data) override;
    STDMETHODIMP SetPrivateDataInterface(REFGUID Name, const IUnknown* Unknown) override;
    STDMETHODIMP GetPrivateData(REFGUID Name, UINT* DataSize, void* Data) override;
    STDMETHODIMP GetParent(REFIID Riid, void** Parent) override;
    STDMETHODIMP EnumAdapters(UINT Index, IDXGIAdapter** Result) override;
    STDMETHODIMP MakeWindowAssociation(HWND Window, UINT Flags) override;
    STDMETHODIMP GetWindowAssociation(HWND* Window) override;
    STDMETHODIMP CreateSwapChain(IUnknown* Device, DXGI_SWAP_CHAIN_DESC* Desc, IDXGISwapChain** SwapChain) override;
    STDMETHODIMP CreateSoftwareAdapter(HMODULE Module, IDXGIAdapter** Result) override;
    STDMETHODIMP EnumAdapters1(UINT Index, IDXGIAdapter1** Result) override;
    STDMETHODIMP_(BOOL) IsCurrent() override { return TRUE; }

private:
    std::shared_ptr<Vulkan::Instance> m_Instance;
};

} // namespace Platform::Dxgi

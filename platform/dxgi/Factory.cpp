#include "Factory.h"

#include "Adapter.h"
#include "Dxgi/VulkanResults.h"
#include <dxgi1_3.h>

namespace Platform::Dxgi {

STDMETHODIMP Factory::SetPrivateData(REFGUID, UINT, const void*) { return E_NOTIMPL; }
STDMETHODIMP Factory::SetPrivateDataInterface(REFGUID, const IUnknown*) { return E_NOTIMPL; }
STDMETHODIMP Factory::GetPrivateData(REFGUID, UINT*, void*) { return DXGI_ERROR_NOT_FOUND; }

STDMETHODIMP Factory::GetParent(REFIID, void** Parent)
{
    if (!Parent)
        return E_INVALIDARG;
    *Parent = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP Factory::EnumAdapters1(UINT Index, IDXGIAdapter1** Result)
{
    if (!Result)
        return DXGI_ERROR_INVALID_CALL;
    *Result = nullptr;
    if (Index >= m_Instance->PhysicalDevices().size())
        return DXGI_ERROR_NOT_FOUND;
    Microsoft::WRL::ComPtr<Adapter> Created = Microsoft::WRL::Make<Adapter>(m_Instance, Index, this);
    if (!Created)
        return E_OUTOFMEMORY;
    *Result = Created.Detach();
    return S_OK;
}

STDMETHODIMP Factory::EnumAdapters(UINT Index, IDXGIAdapter** Result)
{
    if (!Result)
        return DXGI_ERROR_INVALID_CALL;
    IDXGIAdapter1* Adapter1 = nullptr;
    const HRESULT Status = EnumAdapters1(Index, &Adapter1);
    *Result = Adapter1;
    return Status;
}

// No windows and no swap chains: this platform renders off screen only.
STDMETHODIMP Factory::MakeWindowAssociation(HWND, UINT) { return DXGI_ERROR_UNSUPPORTED; }
STDMETHODIMP Factory::GetWindowAssociation(HWND* Window)
{
    if (!Window)
        return DXGI_ERROR_INVALID_CALL;
    *Window = nullptr;
    return S_OK;
}
STDMETHODIMP Factory::CreateSwapChain(IUnknown*, DXGI_SWAP_CHAIN_DESC*, IDXGISwapChain** SwapChain)
{
    if (SwapChain)
        *SwapChain = nullptr;
    return DXGI_ERROR_UNSUPPORTED;
}
STDMETHODIMP Factory::CreateSoftwareAdapter(HMODULE, IDXGIAdapter** Result)
{
    if (Result)
        *Result = nullptr;
    return DXGI_ERROR_UNSUPPORTED;
}

} // namespace Platform::Dxgi

namespace {

HRESULT CreateFactory(REFIID Riid, void** Result)
{
    if (!Result)
        return E_INVALIDARG;
    *Result = nullptr;
    std::shared_ptr<Platform::Vulkan::Instance> Instance;
    const HRESULT Status = Platform::Dxgi::HresultFromVk(Platform::Vulkan::Instance::Acquire(Instance));
    if (FAILED(Status))
        return Status;
    Microsoft::WRL::ComPtr<Platform::Dxgi::Factory> Created =
        Microsoft::WRL::Make<Platform::Dxgi::Factory>(std::move(Instance));
    if (!Created)
        return E_OUTOFMEMORY;
    return Created->QueryInterface(Riid, Result);
}

} // namespace

HRESULT CreateDXGIFactory2(UINT Flags, REFIID Riid, void** Factory)
{
    if (Flags & ~DXGI_CREATE_FACTORY_DEBUG)
    {
        if (Factory)
            *Factory = nullptr;
        return E_INVALIDARG;
    }
    return CreateFactory(Riid, Factory);
}

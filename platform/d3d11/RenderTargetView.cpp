#include "RenderTargetView.h"

#include "Com/Implementation.h"

namespace Platform::D3D11 {

RenderTargetView::RenderTargetView(std::shared_ptr<DeviceState> State, Texture2D* Texture,
                                   const D3D11_RENDER_TARGET_VIEW_DESC& Desc)
    : DeviceChild(std::move(State)), m_Texture(Texture), m_Desc(Desc)
{}

HRESULT RenderTargetView::Create(const std::shared_ptr<DeviceState>& State, ID3D11Resource* Resource,
                                 const D3D11_RENDER_TARGET_VIEW_DESC* Desc, ID3D11RenderTargetView** Result)
{
    if (Result)
        *Result = nullptr;
    // Buffer views are not part of this platform.
    Texture2D* Target = ImplementationOf<Texture2D>(Resource);
    if (!Target || Target->State() != State || !(Target->Desc().BindFlags & D3D11_BIND_RENDER_TARGET) ||
        !Target->m_Image)
        return E_INVALIDARG;
    D3D11_RENDER_TARGET_VIEW_DESC Effective = {};
    Effective.Format = Target->Desc().Format;
    Effective.ViewDimension = D3D11_RTV_DIMENSION_TEXTURE2D;
    if (Desc)
    {
        if (Desc->ViewDimension != D3D11_RTV_DIMENSION_TEXTURE2D || Desc->Texture2D.MipSlice != 0 ||
            (Desc->Format != DXGI_FORMAT_UNKNOWN && Desc->Format != Effective.Format))
            return E_INVALIDARG;
    }
    Microsoft::WRL::ComPtr<RenderTargetView> Created = Microsoft::WRL::Make<RenderTargetView>(State, Target, Effective);
    if (!Created)
        return E_OUTOFMEMORY;
    const HRESULT Status =
        Dxgi::HresultFromVk(Vulkan::ImageView::Create(Target->m_Image, Target->Format().m_Vulkan, Created->m_View));
    if (FAILED(Status))
        return Status;
    return HandOut(Created, Result);
}

STDMETHODIMP_(void) RenderTargetView::GetResource(ID3D11Resource** Resource)
{
    if (!Resource)
        return;
    *Resource = m_Texture.Get();
    m_Texture->AddRef();
}

STDMETHODIMP_(void) RenderTargetView::GetDesc(D3D11_RENDER_TARGET_VIEW_DESC* Desc)
{
    if (Desc)
        *Desc = m_Desc;
}

} // namespace Platform::D3D11

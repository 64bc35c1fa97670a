// ID3D11RenderTargetView: a Vulkan image view of a texture's first mip.
#pragma once

#include <wrl/client.h>

#include "DeviceChild.h"
#include "Texture2D.h"

namespace Platform::D3D11 {

class RenderTargetView
    : public DeviceChild<Microsoft::WRL::ChainInterfaces<ID3D11RenderTargetView, ID3D11View, ID3D11DeviceChild>>
{
public:
    RenderTargetView(std::shared_ptr<DeviceState> State, Texture2D* Texture, const D3D11_RENDER_TARGET_VIEW_DESC& Desc);

    static HRESULT Create(const std::shared_ptr<DeviceState>& State, ID3D11Resource* Resource,
                          const D3D11_RENDER_TARGET_VIEW_DESC* Desc, ID3D11RenderTargetView** Result);

    STDMETHODIMP_(void) GetResource(ID3D11Resource** Resource) override;
    STDMETHODIMP_(void) GetDesc(D3D11_RENDER_TARGET_VIEW_DESC* Desc) override;

    std::shared_ptr<Vulkan::ImageView> m_View;

private:
    Microsoft::WRL::ComPtr<Texture2D> m_Texture;
    D3D11_RENDER_TARGET_VIEW_DESC m_Desc;
};

} // namespace Platform::D3D11

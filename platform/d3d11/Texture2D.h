// ID3D11Texture2D: a Vulkan image for default, immutable and dynamic usage,
// host memory for staging and dynamic usage.
#pragma once

#include <vector>

#include "DeviceChild.h"
#include "Formats.h"

namespace Platform::D3D11 {

class Texture2D
    : public DeviceChild<Microsoft::WRL::ChainInterfaces<ID3D11Texture2D, ID3D11Resource, ID3D11DeviceChild>>
{
public:
    Texture2D(std::shared_ptr<DeviceState> State, const D3D11_TEXTURE2D_DESC& Desc, const FormatInfo& Format);

    static HRESULT Create(const std::shared_ptr<DeviceState>& State, const D3D11_TEXTURE2D_DESC* Desc,
                          const D3D11_SUBRESOURCE_DATA* InitialData, ID3D11Texture2D** Result);

    STDMETHODIMP_(void) GetType(D3D11_RESOURCE_DIMENSION* Dimension) override;
    STDMETHODIMP_(void) GetDesc(D3D11_TEXTURE2D_DESC* Desc) override;

    const D3D11_TEXTURE2D_DESC& Desc() const { return m_Desc; }
    const FormatInfo& Format() const { return m_Format; }

    std::shared_ptr<Vulkan::Image> m_Image; // null for staging textures
    std::shared_ptr<Vulkan::Buffer> m_Host; // staging and dynamic textures
    std::vector<PlaneLayout> m_Layout;      // of the host memory

private:
    HRESULT CreateImage(const D3D11_TEXTURE2D_DESC& Desc);
    HRESULT CreateHost(const D3D11_TEXTURE2D_DESC& Desc, const D3D11_SUBRESOURCE_DATA* InitialData);
    HRESULT Upload(const D3D11_SUBRESOURCE_DATA& InitialData);

    D3D11_TEXTURE2D_DESC m_Desc;
    const FormatInfo& m_Format;
};

} // namespace Platform::D3D11

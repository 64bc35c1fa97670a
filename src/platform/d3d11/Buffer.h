// ID3D11Buffer: device memory for default and immutable usage, host memory
// that the device reads for dynamic usage, host memory for staging.
#pragma once

#include "DeviceChild.h"

namespace Platform::D3D11 {

class Buffer : public DeviceChild<Microsoft::WRL::ChainInterfaces<ID3D11Buffer, ID3D11Resource, ID3D11DeviceChild>>
{
public:
    Buffer(std::shared_ptr<DeviceState> State, const D3D11_BUFFER_DESC& Desc);

    static HRESULT Create(const std::shared_ptr<DeviceState>& State, const D3D11_BUFFER_DESC* Desc,
                          const D3D11_SUBRESOURCE_DATA* InitialData, ID3D11Buffer** Result);

    STDMETHODIMP_(void) GetType(D3D11_RESOURCE_DIMENSION* Dimension) override;
    STDMETHODIMP_(void) GetDesc(D3D11_BUFFER_DESC* Desc) override;

    const D3D11_BUFFER_DESC& Desc() const { return m_Desc; }

    std::shared_ptr<Vulkan::Buffer> m_Buffer;

private:
    D3D11_BUFFER_DESC m_Desc;
};

} // namespace Platform::D3D11

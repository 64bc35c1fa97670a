// ID3D11Buffer: device memory for default and immutable usage, host memory
// that the device reads for dynamic usage, host memory for staging.
//
// Its contents live in a slice: its own memory, or, after an update that
// replaces them (UpdateSubresource of a small default buffer, Map with
// discard of a dynamic one), a fresh range of the upload ring, so that the
// update waits for no earlier use. All of it under the device's lock.
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

    // Where the contents are now.
    const Vulkan::BufferSlice& Storage() const { return m_Storage; }
    // Replaces Bytes [Left, Right) with Data, renaming when that is allowed.
    void Update(UINT Left, UINT Right, const void* Data);
    // A fresh range for the whole contents, for the host to write (Map with
    // discard); null when none could be had.
    uint8_t* Discard();
    // Before the device writes the contents: back to the buffer's own memory,
    // keeping what a partial write leaves (Whole: the write replaces all).
    void PrepareDeviceWrite(bool Whole);

private:
    HRESULT Initialize(const D3D11_SUBRESOURCE_DATA* InitialData);

    D3D11_BUFFER_DESC m_Desc;
    std::shared_ptr<Vulkan::Buffer> m_Own;
    Vulkan::BufferSlice m_Storage;
};

} // namespace Platform::D3D11

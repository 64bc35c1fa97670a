// ID3DBlob over a byte vector.
#pragma once

#include <cstdint>
#include <vector>

#include <wrl/implements.h>

#include <d3dcommon.h>

namespace Platform {

class Blob
    : public Microsoft::WRL::RuntimeClass<Microsoft::WRL::RuntimeClassFlags<Microsoft::WRL::ClassicCom>, ID3D10Blob>
{
public:
    explicit Blob(std::vector<uint8_t> Bytes) : m_Bytes(std::move(Bytes)) {}

    STDMETHODIMP_(LPVOID) GetBufferPointer() override { return m_Bytes.empty() ? nullptr : m_Bytes.data(); }
    STDMETHODIMP_(SIZE_T) GetBufferSize() override { return m_Bytes.size(); }

private:
    std::vector<uint8_t> m_Bytes;
};

// A new blob with a copy of Bytes; E_OUTOFMEMORY when memory runs out.
HRESULT CreateBlob(std::vector<uint8_t> Bytes, ID3DBlob** Result);

} // namespace Platform

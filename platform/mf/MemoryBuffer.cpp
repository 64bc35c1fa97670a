// Media buffers in system memory.

#include <cstdlib>

#include <wrl/implements.h>
#include "BufferLength.h"
#include <mfapi.h>

namespace Platform {

namespace {

using namespace Microsoft::WRL;

class MemoryBuffer final : public RuntimeClass<RuntimeClassFlags<ClassicCom>, IMFMediaBuffer>
{
public:
    explicit MemoryBuffer(DWORD MaxLength)
        : m_Data(static_cast<BYTE*>(std::aligned_alloc(64, (MaxLength + 63u) / 64u * 64u + 64u))), m_Length(MaxLength)
    {}
    ~MemoryBuffer() override { std::free(m_Data); }

    bool IsValid() const { return m_Data != nullptr; }

    STDMETHODIMP Lock(BYTE** Buffer, DWORD* MaxLength, DWORD* CurrentLength) override
    {
        if (!Buffer)
            return E_POINTER;
        *Buffer = m_Data;
        if (MaxLength)
            *MaxLength = m_Length.Max();
        if (CurrentLength)
            *CurrentLength = m_Length.Current();
        return S_OK;
    }
    STDMETHODIMP Unlock() override { return S_OK; }
    STDMETHODIMP GetCurrentLength(DWORD* CurrentLength) override { return m_Length.GetCurrentLength(CurrentLength); }
    STDMETHODIMP SetCurrentLength(DWORD CurrentLength) override { return m_Length.SetCurrentLength(CurrentLength); }
    STDMETHODIMP GetMaxLength(DWORD* MaxLength) override { return m_Length.GetMaxLength(MaxLength); }

private:
    BYTE* m_Data;
    BufferLength m_Length;
};

} // namespace

} // namespace Platform

HRESULT MFCreateMemoryBuffer(DWORD cbMaxLength, IMFMediaBuffer** ppBuffer)
{
    if (!ppBuffer)
        return E_POINTER;
    *ppBuffer = nullptr;
    auto Buffer = Microsoft::WRL::Make<Platform::MemoryBuffer>(cbMaxLength);
    if (!Buffer || !Buffer->IsValid())
        return E_OUTOFMEMORY;
    *ppBuffer = Buffer.Detach();
    return S_OK;
}

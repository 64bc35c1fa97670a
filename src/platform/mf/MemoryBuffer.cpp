// Media buffers in system memory.

#include <cstdlib>
#include <mutex>

#include "../com/wrl/implements.h"
#include "mfapi.h"

namespace Platform {

namespace {

using namespace Microsoft::WRL;

class MemoryBuffer final : public RuntimeClass<RuntimeClassFlags<ClassicCom>, IMFMediaBuffer>
{
public:
    explicit MemoryBuffer(DWORD MaxLength)
        : m_Data(static_cast<BYTE*>(std::aligned_alloc(64, (MaxLength + 63u) / 64u * 64u + 64u))),
          m_MaxLength(MaxLength)
    {
    }
    ~MemoryBuffer() override { std::free(m_Data); }

    bool IsValid() const { return m_Data != nullptr; }

    STDMETHODIMP Lock(BYTE** Buffer, DWORD* MaxLength, DWORD* CurrentLength) override
    {
        if (!Buffer)
            return E_POINTER;
        std::lock_guard Guard(m_Lock);
        *Buffer = m_Data;
        if (MaxLength)
            *MaxLength = m_MaxLength;
        if (CurrentLength)
            *CurrentLength = m_CurrentLength;
        return S_OK;
    }
    STDMETHODIMP Unlock() override { return S_OK; }
    STDMETHODIMP GetCurrentLength(DWORD* CurrentLength) override
    {
        if (!CurrentLength)
            return E_POINTER;
        std::lock_guard Guard(m_Lock);
        *CurrentLength = m_CurrentLength;
        return S_OK;
    }
    STDMETHODIMP SetCurrentLength(DWORD CurrentLength) override
    {
        if (CurrentLength > m_MaxLength)
            return E_INVALIDARG;
        std::lock_guard Guard(m_Lock);
        m_CurrentLength = CurrentLength;
        return S_OK;
    }
    STDMETHODIMP GetMaxLength(DWORD* MaxLength) override
    {
        if (!MaxLength)
            return E_POINTER;
        *MaxLength = m_MaxLength;
        return S_OK;
    }

private:
    std::mutex m_Lock;
    BYTE* m_Data;
    const DWORD m_MaxLength;
    DWORD m_CurrentLength = 0;
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

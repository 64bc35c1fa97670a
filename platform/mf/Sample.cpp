// Samples: attributes, time, duration, flags and a list of buffers.

#include <cstring>
#include <mutex>
#include <optional>
#include <vector>

#include <wrl/implements.h>
#include "AttributeStore.h"
#include <mfapi.h>

namespace Platform {

namespace {

using namespace Microsoft::WRL;

class Sample final : public RuntimeClass<RuntimeClassFlags<ClassicCom>,
                                         ChainInterfaces<AttributesImpl<IMFSample>, IMFSample, IMFAttributes>>
{
public:
    STDMETHODIMP GetSampleFlags(DWORD* Flags) override
    {
        if (!Flags)
            return E_POINTER;
        std::lock_guard Guard(m_Lock);
        *Flags = m_Flags;
        return S_OK;
    }
    STDMETHODIMP SetSampleFlags(DWORD Flags) override
    {
        std::lock_guard Guard(m_Lock);
        m_Flags = Flags;
        return S_OK;
    }
    STDMETHODIMP GetSampleTime(LONGLONG* Time) override
    {
        if (!Time)
            return E_POINTER;
        std::lock_guard Guard(m_Lock);
        if (!m_Time)
            return MF_E_NO_SAMPLE_TIMESTAMP;
        *Time = *m_Time;
        return S_OK;
    }
    STDMETHODIMP SetSampleTime(LONGLONG Time) override
    {
        std::lock_guard Guard(m_Lock);
        m_Time = Time;
        return S_OK;
    }
    STDMETHODIMP GetSampleDuration(LONGLONG* Duration) override
    {
        if (!Duration)
            return E_POINTER;
        std::lock_guard Guard(m_Lock);
        if (!m_Duration)
            return MF_E_NO_SAMPLE_DURATION;
        *Duration = *m_Duration;
        return S_OK;
    }
    STDMETHODIMP SetSampleDuration(LONGLONG Duration) override
    {
        std::lock_guard Guard(m_Lock);
        m_Duration = Duration;
        return S_OK;
    }
    STDMETHODIMP GetBufferCount(DWORD* Count) override
    {
        if (!Count)
            return E_POINTER;
        std::lock_guard Guard(m_Lock);
        *Count = static_cast<DWORD>(m_Buffers.size());
        return S_OK;
    }
    STDMETHODIMP GetBufferByIndex(DWORD Index, IMFMediaBuffer** Buffer) override
    {
        if (!Buffer)
            return E_POINTER;
        *Buffer = nullptr;
        std::lock_guard Guard(m_Lock);
        if (Index >= m_Buffers.size())
            return E_INVALIDARG;
        return m_Buffers[Index].CopyTo(Buffer);
    }
    STDMETHODIMP ConvertToContiguousBuffer(IMFMediaBuffer** Buffer) override
    {
        if (!Buffer)
            return E_POINTER;
        *Buffer = nullptr;
        std::lock_guard Guard(m_Lock);
        if (m_Buffers.empty())
            return E_UNEXPECTED;
        if (m_Buffers.size() == 1)
            return m_Buffers[0].CopyTo(Buffer);
        // Several buffers become one, which then replaces them.
        DWORD Total = 0;
        HRESULT Result = TotalLength(&Total);
        ComPtr<IMFMediaBuffer> Contiguous;
        if (SUCCEEDED(Result))
            Result = MFCreateMemoryBuffer(Total, Contiguous.GetAddressOf());
        if (SUCCEEDED(Result))
            Result = CopyTo(Contiguous.Get());
        if (FAILED(Result))
            return Result;
        m_Buffers.clear();
        m_Buffers.push_back(Contiguous);
        return Contiguous.CopyTo(Buffer);
    }
    STDMETHODIMP AddBuffer(IMFMediaBuffer* Buffer) override
    {
        if (!Buffer)
            return E_INVALIDARG;
        std::lock_guard Guard(m_Lock);
        try
        {
            m_Buffers.emplace_back(Buffer);
        }
        catch (const std::bad_alloc&)
        {
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }
    STDMETHODIMP RemoveBufferByIndex(DWORD Index) override
    {
        ComPtr<IMFMediaBuffer> Removed;
        std::lock_guard Guard(m_Lock);
        if (Index >= m_Buffers.size())
            return E_INVALIDARG;
        Removed = std::move(m_Buffers[Index]);
        m_Buffers.erase(m_Buffers.begin() + Index);
        return S_OK;
    }
    STDMETHODIMP RemoveAllBuffers() override
    {
        std::vector<ComPtr<IMFMediaBuffer>> Removed;
        std::lock_guard Guard(m_Lock);
        Removed.swap(m_Buffers);
        return S_OK;
    }
    STDMETHODIMP GetTotalLength(DWORD* Length) override
    {
        if (!Length)
            return E_POINTER;
        std::lock_guard Guard(m_Lock);
        return TotalLength(Length);
    }
    STDMETHODIMP CopyToBuffer(IMFMediaBuffer* Buffer) override
    {
        if (!Buffer)
            return E_POINTER;
        std::lock_guard Guard(m_Lock);
        return CopyTo(Buffer);
    }

private:
    HRESULT TotalLength(DWORD* Length) const
    {
        DWORD Total = 0;
        for (const auto& Buffer : m_Buffers)
        {
            DWORD Current = 0;
            const HRESULT Result = Buffer->GetCurrentLength(&Current);
            if (FAILED(Result))
                return Result;
            Total += Current;
        }
        *Length = Total;
        return S_OK;
    }

    // Copies the buffers' contents one after another into Destination.
    HRESULT CopyTo(IMFMediaBuffer* Destination) const
    {
        DWORD Total = 0;
        HRESULT Result = TotalLength(&Total);
        if (FAILED(Result))
            return Result;
        BYTE* Target = nullptr;
        DWORD MaxLength = 0;
        if (FAILED(Result = Destination->Lock(&Target, &MaxLength, nullptr)))
            return Result;
        if (MaxLength < Total)
            Result = MF_E_BUFFERTOOSMALL;
        DWORD Offset = 0;
        for (size_t Index = 0; SUCCEEDED(Result) && Index < m_Buffers.size(); ++Index)
        {
            BYTE* Source = nullptr;
            DWORD Length = 0;
            if (SUCCEEDED(Result = m_Buffers[Index]->Lock(&Source, nullptr, &Length)))
            {
                std::memcpy(Target + Offset, Source, Length);
                Offset += Length;
                m_Buffers[Index]->Unlock();
            }
        }
        Destination->Unlock();
        return SUCCEEDED(Result) ? Destination->SetCurrentLength(Total) : Result;
    }

    std::mutex m_Lock;
    DWORD m_Flags = 0;
    std::optional<LONGLONG> m_Time;
    std::optional<LONGLONG> m_Duration;
    std::vector<ComPtr<IMFMediaBuffer>> m_Buffers;
};

} // namespace

} // namespace Platform

HRESULT MFCreateSample(IMFSample** ppIMFSample)
{
    if (!ppIMFSample)
        return E_POINTER;
    auto Sample = Microsoft::WRL::Make<Platform::Sample>();
    if (!Sample)
        return E_OUTOFMEMORY;
    *ppIMFSample = Sample.Detach();
    return S_OK;
}

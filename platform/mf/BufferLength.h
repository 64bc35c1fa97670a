// The current and maximal lengths of a media buffer: the bookkeeping that
// every IMFMediaBuffer of the platform shares.
#pragma once

#include <atomic>

#include <mfobjects.h>

namespace Platform {

class BufferLength
{
public:
    explicit BufferLength(DWORD MaxLength, DWORD CurrentLength = 0) : m_Max(MaxLength), m_Current(CurrentLength) {}

    DWORD Max() const { return m_Max; }
    DWORD Current() const { return m_Current.load(std::memory_order_relaxed); }

    HRESULT GetCurrentLength(DWORD* CurrentLength) const
    {
        if (!CurrentLength)
            return E_POINTER;
        *CurrentLength = Current();
        return S_OK;
    }
    HRESULT SetCurrentLength(DWORD CurrentLength)
    {
        if (CurrentLength > m_Max)
            return E_INVALIDARG;
        m_Current.store(CurrentLength, std::memory_order_relaxed);
        return S_OK;
    }
    HRESULT GetMaxLength(DWORD* MaxLength) const
    {
        if (!MaxLength)
            return E_POINTER;
        *MaxLength = m_Max;
        return S_OK;
    }

private:
    const DWORD m_Max;
    std::atomic<DWORD> m_Current;
};

} // namespace Platform

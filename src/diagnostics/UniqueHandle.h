// An owning holder of a Win32 handle: closes it on every way out.
#pragma once

#include <cstdlib>
#include <utility>

#include <windows.h>

class UniqueHandle
{
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE Handle) : m_Handle(Handle) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& Other) noexcept : m_Handle(std::exchange(Other.m_Handle, nullptr)) {}
    UniqueHandle& operator=(UniqueHandle&& Other) noexcept
    {
        if (this != &Other)
        {
            reset();
            m_Handle = std::exchange(Other.m_Handle, nullptr);
        }
        return *this;
    }

    HANDLE get() const { return m_Handle; }
    // Null and INVALID_HANDLE_VALUE hold nothing.
    explicit operator bool() const { return m_Handle && m_Handle != INVALID_HANDLE_VALUE; }

    // A handle that cannot be closed is a fault of the program: it is raised
    // as a non-continuable exception carrying the error, which nothing
    // handles, so the process ends there.
    void reset(HANDLE Handle = nullptr)
    {
        if (*this && !CloseHandle(m_Handle))
        {
            RaiseException(static_cast<DWORD>(HRESULT_FROM_WIN32(GetLastError())), EXCEPTION_NONCONTINUABLE, 0,
                           nullptr);
            std::abort();
        }
        m_Handle = Handle;
    }

private:
    HANDLE m_Handle = nullptr;
};

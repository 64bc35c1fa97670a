// Collects the text written to the debugger output channel while in scope.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include <windows.h>

class DebugOutputCapture
{
public:
    DebugOutputCapture() : m_Handle(AddVectoredExceptionHandler(1, &Handler)) { Current() = this; }
    ~DebugOutputCapture()
    {
        RemoveVectoredExceptionHandler(m_Handle);
        Current() = nullptr;
    }
    DebugOutputCapture(const DebugOutputCapture&) = delete;
    DebugOutputCapture& operator=(const DebugOutputCapture&) = delete;

    std::vector<std::wstring> Lines() const
    {
        std::lock_guard Guard(m_Lock);
        return m_Lines;
    }

private:
    static DebugOutputCapture*& Current()
    {
        static DebugOutputCapture* Instance = nullptr;
        return Instance;
    }
    static LONG Handler(PEXCEPTION_POINTERS Pointers)
    {
        const EXCEPTION_RECORD& Record = *Pointers->ExceptionRecord;
        if (Record.ExceptionCode != DBG_PRINTEXCEPTION_WIDE_C || !Current())
            return EXCEPTION_CONTINUE_SEARCH;
        std::lock_guard Guard(Current()->m_Lock);
        Current()->m_Lines.emplace_back(reinterpret_cast<const wchar_t*>(Record.ExceptionInformation[1]),
                                        Record.ExceptionInformation[0] - 1);
        return EXCEPTION_CONTINUE_EXECUTION;
    }

    PVOID m_Handle;
    mutable std::mutex m_Lock;
    std::vector<std::wstring> m_Lines;
};

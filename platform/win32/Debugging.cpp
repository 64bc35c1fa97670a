// The Win32 debugging functions, over the ptrace back end, and the memory
// and registers of debugged processes.

#include <cerrno>

#include "Win32/Errors.h"
#include "Win32/Handles.h"
#include "Ptrace/ProcessReader.h"
#include "Ptrace/PtraceDebugger.h"
#include <debugapi.h>
#include <memoryapi.h>
#include <processthreadsapi.h>
#include <winbase.h>

BOOL DebugActiveProcess(DWORD ProcessId) { return Platform::PtraceDebugger::Instance().Attach(ProcessId); }

BOOL DebugActiveProcessStop(DWORD ProcessId) { return Platform::PtraceDebugger::Instance().Detach(ProcessId); }

BOOL WaitForDebugEventEx(DEBUG_EVENT* DebugEvent, DWORD Milliseconds)
{
    if (!DebugEvent)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return Platform::PtraceDebugger::Instance().WaitForEvent(*DebugEvent, Milliseconds);
}

BOOL ContinueDebugEvent(DWORD ProcessId, DWORD ThreadId, DWORD ContinueStatus)
{
    return Platform::PtraceDebugger::Instance().Continue(ProcessId, ThreadId, ContinueStatus);
}

BOOL GetThreadContext(HANDLE Thread, LPCONTEXT Context)
{
    Platform::HandleObject Object;
    if (!Platform::FindHandle(Thread, Platform::HandleKind::Thread, Object))
        return FALSE;
    if (!Context)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    auto& Debugger = Platform::PtraceDebugger::Instance();
    if (!Debugger.IsDebuggee(Object.ProcessId))
    {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    return Debugger.ReadContext(Object.ThreadId, *Context);
}

BOOL ReadProcessMemory(HANDLE Process, LPCVOID BaseAddress, LPVOID Buffer, SIZE_T Size, SIZE_T* NumberOfBytesRead)
{
    if (NumberOfBytesRead)
        *NumberOfBytesRead = 0;
    Platform::HandleObject Object;
    if (!Platform::FindHandle(Process, Platform::HandleKind::Process, Object))
        return FALSE;
    if (!Buffer && Size)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const SIZE_T Done =
        Platform::ReadProcessBytes(Object.ProcessId, reinterpret_cast<uint64_t>(BaseAddress), Buffer, Size);
    if (Done < Size)
    {
        // Unreadable memory is a partial copy, as on the platform.
        if (Done > 0 || errno == EFAULT || errno == EIO)
            SetLastError(ERROR_PARTIAL_COPY);
        else
            Platform::SetLastErrorFromErrno(errno);
        if (NumberOfBytesRead)
            *NumberOfBytesRead = Done;
        return FALSE;
    }
    if (NumberOfBytesRead)
        *NumberOfBytesRead = Done;
    return TRUE;
}

// The registers of a stopped thread of the debuggee, as a CONTEXT record.

#include <cstddef>
#include <cstring>
#include <iterator>

#include "Win32/Debugger.h"
#include "Win32/Errors.h"
#include "Win32/Handles.h"
#include <processthreadsapi.h>
#include <winbase.h>

namespace Platform {

bool ReadThreadContext(pid_t ThreadId, CONTEXT& Context)
{
    Ptrace::Registers Registers;
    if (const int Error = ProcessDebugger().ReadRegisters(ThreadId, Registers))
    {
        SetLastErrorFromErrno(Error);
        return false;
    }
    const user_regs_struct& General = Registers.General;
    const DWORD Flags = Context.ContextFlags;
    Context = {};
    Context.ContextFlags = Flags & CONTEXT_ALL;
    Context.Rax = General.rax;
    Context.Rcx = General.rcx;
    Context.Rdx = General.rdx;
    Context.Rbx = General.rbx;
    Context.Rsp = General.rsp;
    Context.Rbp = General.rbp;
    Context.Rsi = General.rsi;
    Context.Rdi = General.rdi;
    Context.R8 = General.r8;
    Context.R9 = General.r9;
    Context.R10 = General.r10;
    Context.R11 = General.r11;
    Context.R12 = General.r12;
    Context.R13 = General.r13;
    Context.R14 = General.r14;
    Context.R15 = General.r15;
    Context.Rip = General.rip;
    Context.EFlags = static_cast<DWORD>(General.eflags);
    Context.SegCs = static_cast<WORD>(General.cs);
    Context.SegDs = static_cast<WORD>(General.ds);
    Context.SegEs = static_cast<WORD>(General.es);
    Context.SegFs = static_cast<WORD>(General.fs);
    Context.SegGs = static_cast<WORD>(General.gs);
    Context.SegSs = static_cast<WORD>(General.ss);
    static_assert(sizeof Registers.FloatingPoint == sizeof Context.FltSave);
    std::memcpy(&Context.FltSave, &Registers.FloatingPoint, sizeof Registers.FloatingPoint);
    Context.MxCsr = Registers.FloatingPoint.mxcsr;
    DWORD64* Debug[] = {&Context.Dr0, &Context.Dr1, &Context.Dr2, &Context.Dr3,
                        nullptr,      nullptr,      &Context.Dr6, &Context.Dr7};
    for (size_t Index = 0; Index < std::size(Debug); ++Index)
        if (Debug[Index])
            *Debug[Index] = Registers.Debug[Index];
    return true;
}

} // namespace Platform

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
    if (!Platform::ProcessDebugger().IsDebuggee(Object.ProcessId))
    {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    return Platform::ReadThreadContext(Object.ThreadId, *Context);
}

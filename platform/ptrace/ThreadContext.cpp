// The registers of a stopped thread of the debuggee, as a CONTEXT record.

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <iterator>
#include <sys/ptrace.h>
#include <sys/user.h>

#include "Win32/Errors.h"
#include "Ptrace/PtraceDebugger.h"
#include <winbase.h>

namespace Platform {

bool PtraceDebugger::ReadContext(pid_t ThreadId, CONTEXT& Context) const
{
    const auto Found = m_Threads.find(ThreadId);
    if (Found == m_Threads.end() || !Found->second.m_Stopped ||
        (Found->second.m_PendingStatus && !WIFSTOPPED(*Found->second.m_PendingStatus)))
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    user_regs_struct Registers = {};
    user_fpregs_struct FloatingPoint = {};
    if (ptrace(PTRACE_GETREGS, ThreadId, nullptr, &Registers) == -1 ||
        ptrace(PTRACE_GETFPREGS, ThreadId, nullptr, &FloatingPoint) == -1)
    {
        SetLastErrorFromErrno(errno);
        return false;
    }
    const DWORD Flags = Context.ContextFlags;
    Context = {};
    Context.ContextFlags = Flags & CONTEXT_ALL;
    Context.Rax = Registers.rax;
    Context.Rcx = Registers.rcx;
    Context.Rdx = Registers.rdx;
    Context.Rbx = Registers.rbx;
    Context.Rsp = Registers.rsp;
    Context.Rbp = Registers.rbp;
    Context.Rsi = Registers.rsi;
    Context.Rdi = Registers.rdi;
    Context.R8 = Registers.r8;
    Context.R9 = Registers.r9;
    Context.R10 = Registers.r10;
    Context.R11 = Registers.r11;
    Context.R12 = Registers.r12;
    Context.R13 = Registers.r13;
    Context.R14 = Registers.r14;
    Context.R15 = Registers.r15;
    Context.Rip = Registers.rip;
    Context.EFlags = static_cast<DWORD>(Registers.eflags);
    Context.SegCs = static_cast<WORD>(Registers.cs);
    Context.SegDs = static_cast<WORD>(Registers.ds);
    Context.SegEs = static_cast<WORD>(Registers.es);
    Context.SegFs = static_cast<WORD>(Registers.fs);
    Context.SegGs = static_cast<WORD>(Registers.gs);
    Context.SegSs = static_cast<WORD>(Registers.ss);
    static_assert(sizeof FloatingPoint == sizeof Context.FltSave);
    std::memcpy(&Context.FltSave, &FloatingPoint, sizeof FloatingPoint);
    Context.MxCsr = FloatingPoint.mxcsr;
    DWORD64* Debug[] = {&Context.Dr0, &Context.Dr1, &Context.Dr2, &Context.Dr3,
                        nullptr,      nullptr,      &Context.Dr6, &Context.Dr7};
    for (size_t Index = 0; Index < std::size(Debug); ++Index)
        if (Debug[Index])
        {
            errno = 0;
            const long Value = ptrace(PTRACE_PEEKUSER, ThreadId,
                                      reinterpret_cast<void*>(offsetof(struct user, u_debugreg) + Index * 8), nullptr);
            if (errno == 0)
                *Debug[Index] = static_cast<DWORD64>(Value);
        }
    return true;
}

} // namespace Platform

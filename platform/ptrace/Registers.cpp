// The registers of a stopped thread of the debuggee.

#include <cerrno>
#include <cstddef>
#include <sys/ptrace.h>
#include <sys/user.h>
#include <sys/wait.h>

#include "Ptrace/Debugger.h"

namespace Ptrace {

int Debugger::ReadRegisters(pid_t ThreadId, Registers& Read) const
{
    const auto Found = m_Threads.find(ThreadId);
    if (Found == m_Threads.end() || !Found->second.m_Stopped ||
        (Found->second.m_PendingStatus && !WIFSTOPPED(*Found->second.m_PendingStatus)))
        return EBADF;
    Read = {};
    if (ptrace(PTRACE_GETREGS, ThreadId, nullptr, &Read.General) == -1 ||
        ptrace(PTRACE_GETFPREGS, ThreadId, nullptr, &Read.FloatingPoint) == -1)
        return errno;
    // Debug registers 4 and 5 do not exist.
    for (size_t Index = 0; Index < 8; ++Index)
        if (Index != 4 && Index != 5)
        {
            errno = 0;
            const long Value = ptrace(PTRACE_PEEKUSER, ThreadId,
                                      reinterpret_cast<void*>(offsetof(struct user, u_debugreg) + Index * 8), nullptr);
            if (errno == 0)
                Read.Debug[Index] = static_cast<uint64_t>(Value);
        }
    return 0;
}

} // namespace Ptrace

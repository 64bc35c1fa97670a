// The debugger of this process: the one Ptrace::Debugger behind the Win32
// debugging functions, which the minidump writer reads threads through, and
// what its events and registers are in the platform's terms.
#pragma once

#include <csignal>
#include <sys/types.h>

#include "Ptrace/Debugger.h"
#include <minwinbase.h>
#include <winnt.h>

namespace Platform {

Ptrace::Debugger& ProcessDebugger();

// The registers of a stopped thread of the debuggee as a CONTEXT record, of
// which the flags asked for are kept; false with the last error set.
bool ReadThreadContext(pid_t ThreadId, CONTEXT& Context);

// The Windows exception code for a fault signal, or 0 when the signal is no
// fault. Fills the record's parameters as the platform does.
DWORD ExceptionFromSignal(const siginfo_t& Info, EXCEPTION_RECORD& Record);

} // namespace Platform

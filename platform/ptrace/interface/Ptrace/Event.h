// What a debuggee's stops mean to its debugger: the events that
// Ptrace::Debugger reports, in the kernel's own terms.
#pragma once

#include <csignal>
#include <cstdint>
#include <sys/types.h>

namespace Ptrace {

enum class EventKind
{
    Attached,      // the process, once every thread is seized (ThreadId: the main thread)
    ThreadCreated, // each other thread found at attaching, then each new one
    AttachStop,    // attaching is complete; follows the threads found
    ThreadExited,  // Status: the thread's wait status
    ProcessExited, // the last thread ended; Status: its wait status
    Fault,         // a fault signal about to be delivered: Info, Address, LastChance
    ChannelRecord, // the channel signal: Info.si_value points at the record in the debuggee
};

struct Event
{
    EventKind Kind = EventKind::Attached;
    pid_t ProcessId = 0;
    pid_t ThreadId = 0;
    int Status = 0;
    siginfo_t Info = {};
    // The instruction that faulted; after int3, the breakpoint itself.
    uint64_t Address = 0;
    // Reported again, as the signal is about to end the process.
    bool LastChance = false;
};

// The signals reported as faults: SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGTRAP
// and SIGABRT. Any other signal reaches the debuggee as it would undebugged.
bool IsFaultSignal(int Signal);

} // namespace Ptrace

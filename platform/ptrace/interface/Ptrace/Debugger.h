// A debugger on ptrace: one debuggee, all of its threads seized, their stops
// turned into events.
//
// Every thread of the debuggee stands still from a fault or an attaching
// event (and the end of the process) until it is continued; other events stop
// only the thread they come from, unless StopOthers asks for all. Stops of
// other threads that arrive meanwhile are kept and reported in turn before
// anything runs again.
//
// Signals that are no faults reach the debuggee as they would undebugged, and
// job control works: a thread in a group stop (SIGSTOP, SIGTSTP, SIGTTIN,
// SIGTTOU) is held there until SIGCONT.
//
// Each instance debugs its own process and waits only for its threads, so
// that several can work side by side; every call on one instance comes from
// the thread that attached, as ptrace requires. Failures are errno values.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <sys/types.h>
#include <sys/user.h>
#include <vector>

#include "Ptrace/Event.h"

namespace Ptrace {

// A stopped thread's registers; the debug registers that cannot be read are 0.
struct Registers
{
    user_regs_struct General = {};
    user_fpregs_struct FloatingPoint = {};
    uint64_t Debug[8] = {};
};

class Debugger
{
public:
    // ChannelSignal, when not 0, carries records from the debuggee: it is
    // never delivered, and the debuggee's own sends become ChannelRecord events.
    explicit Debugger(int ChannelSignal = 0) : m_ChannelSignal(ChannelSignal) {}
    ~Debugger();
    Debugger(const Debugger&) = delete;
    Debugger& operator=(const Debugger&) = delete;

    // 0, or EBUSY (a process is debugged already), EINVAL (no valid id),
    // EPERM (this process), ESRCH (no such process) or what ptrace said.
    int Attach(pid_t ProcessId);
    // Lets the debuggee go on undebugged; EINVAL when it is not the debuggee.
    int Detach(pid_t ProcessId);
    // The next event, waiting at most Timeout (nullopt: as long as it takes).
    // EBADF when nothing is debugged or every thread has gone, EINVAL while
    // the last event is not continued, ETIMEDOUT, or what waiting said.
    int Wait(Event& Next, std::optional<std::chrono::milliseconds> Timeout);
    // Continues the last event. PassSignal delivers a fault's signal; one that
    // the debuggee does not catch is first reported again, as its last chance.
    // EINVAL when the ids are not the last event's.
    int Continue(pid_t ProcessId, pid_t ThreadId, bool PassSignal);
    // Stops every thread until the last event is continued.
    void StopOthers();

    pid_t ProcessId() const { return m_ProcessId; }
    bool IsDebuggee(pid_t ProcessId) const { return ProcessId != 0 && ProcessId == m_ProcessId; }
    // The debuggee's threads that stand still, and the registers of one.
    std::vector<pid_t> StoppedThreads() const;
    // 0, EBADF when the thread does not stand still, or what ptrace said.
    int ReadRegisters(pid_t ThreadId, Registers& Read) const;

private:
    struct Thread
    {
        bool m_Stopped = false;
        bool m_Starting = false;  // created, its first stop not seen yet
        bool m_Announced = false; // its creation has been reported
        bool m_ExitReported = false;
        bool m_GroupStop = false;           // held in a group stop until SIGCONT
        std::optional<int> m_PendingStatus; // a stop not yet turned into an event
        int m_ResumeSignal = 0;
    };

    struct QueuedEvent
    {
        Event m_Event;
        int m_Signal = 0; // the fault signal behind a fault event
    };

    // Attach's parts: every thread seized and stopped (0, or the errno that
    // failed), then the events of attaching queued.
    int SeizeAll();
    void QueueAttachEvents();
    Event NewEvent(EventKind Kind, pid_t ThreadId) const;

    // Turns a thread's stop into the events it stands for; false for none.
    bool Translate(pid_t ThreadId, int Status);
    bool TranslateClone(pid_t ThreadId);
    bool TranslateStop(pid_t ThreadId, int Signal);
    bool TranslateSignal(pid_t ThreadId, int Signal);
    // The end of a thread, or of the process once every thread has ended.
    bool AllExitReported() const;
    void QueueExit(pid_t ThreadId, int Status);
    void Queue(const Event& Queued, bool AllStop, int Signal = 0);
    void StopAll(pid_t Except);
    void ResumeAll();
    bool WaitForThread(pid_t ThreadId, int& Status);
    // The next wait status of a thread of the debuggee: its id, 0 when none
    // has one now, -1 with errno set when waiting failed.
    pid_t NextStatus(bool Block, int& Status);
    bool IsOwnThread(pid_t Id) const;
    bool SignalCaught(pid_t ThreadId, int Signal) const;
    void Reset();

    const int m_ChannelSignal;
    pid_t m_ProcessId = 0;
    std::map<pid_t, Thread> m_Threads;
    std::deque<QueuedEvent> m_Queue;
    std::optional<QueuedEvent> m_Current;
    bool m_ExitReported = false;
};

} // namespace Ptrace

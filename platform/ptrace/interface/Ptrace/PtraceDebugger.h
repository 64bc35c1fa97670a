// The Win32 debugging interface on ptrace: one debuggee, all of its threads
// seized, their stops turned into debug events.
//
// Every thread of the debuggee stands still from an exception event (and the
// events of attaching and of the process's end) until it is continued; other
// events stop only the thread they come from. Stops of other threads that
// arrive meanwhile are kept and reported in turn before anything runs again.
//
// Signals that are no faults reach the debuggee as they would undebugged, and
// job control works: a thread in a group stop (SIGSTOP, SIGTSTP, SIGTTIN,
// SIGTTOU) is held there until SIGCONT. While it debugs, the debugger itself
// ignores the signals of the terminal and SIGTERM: sent to the whole process
// group, they are for the debuggee, and the debugger ends when it ends.
//
// A thread's handle, handed out with its creation event, is closed when its
// exit event is continued, as the platform does.
#pragma once

#include <deque>
#include <map>
#include <optional>
#include <csignal>
#include <sys/types.h>
#include <vector>

#include <minwinbase.h>
#include <winnt.h>

namespace Platform {

class PtraceDebugger
{
public:
    static PtraceDebugger& Instance();

    BOOL Attach(DWORD ProcessId);
    BOOL Detach(DWORD ProcessId);
    BOOL WaitForEvent(DEBUG_EVENT& Event, DWORD Milliseconds);
    BOOL Continue(DWORD ProcessId, DWORD ThreadId, DWORD Status);

    // For the context and minidump readers: the debuggee's threads while
    // they all stand still, and the registers of one of them.
    bool IsDebuggee(pid_t ProcessId) const { return ProcessId != 0 && ProcessId == m_ProcessId; }
    std::vector<pid_t> StoppedThreads() const;
    bool ReadContext(pid_t ThreadId, CONTEXT& Context) const;

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
        DEBUG_EVENT m_Event = {};
        bool m_AllStop = false;
        int m_Signal = 0; // the fault signal behind an exception event
    };

    // Attach's parts: every thread seized and stopped (0, or the errno that
    // failed), then the events of attaching queued.
    int SeizeAll();
    void QueueAttachEvents();
    DEBUG_EVENT NewEvent(DWORD Code, pid_t ThreadId) const;

    // Turns a thread's stop into the events it stands for; false for none.
    bool Translate(pid_t ThreadId, int Status);
    bool TranslateClone(pid_t ThreadId);
    bool TranslateStop(pid_t ThreadId, int Signal);
    bool TranslateSignal(pid_t ThreadId, int Signal);
    bool TranslateChannelRecord(pid_t ThreadId, const siginfo_t& Info);
    // The end of a thread, or of the process once every thread has ended.
    bool AllExitReported() const;
    void QueueExit(pid_t ThreadId, DWORD Code);
    void Queue(const DEBUG_EVENT& Event, bool AllStop, int Signal = 0);
    void StopAll(pid_t Except);
    void ResumeAll();
    bool WaitForThread(pid_t ThreadId, int& Status);
    void ThreadGone(pid_t ThreadId, int Status);
    bool SignalCaught(pid_t ThreadId, int Signal) const;
    HANDLE OpenThreadHandle(pid_t ThreadId);
    void CloseThreadHandle(pid_t ThreadId);
    void LeaveSignalsToDebuggee();
    void Reset();

    pid_t m_ProcessId = 0;
    std::map<pid_t, Thread> m_Threads;
    std::deque<QueuedEvent> m_Queue;
    std::optional<QueuedEvent> m_Current;
    bool m_ExitReported = false;
    HANDLE m_ProcessHandles[2] = {};                               // of the creation event, closed at detach
    std::map<pid_t, HANDLE> m_ThreadHandles;                       // of the threads that live
    std::vector<std::pair<int, struct sigaction>> m_SignalActions; // restored at detach
};

// The Windows exception code for a fault signal, or 0 when the signal is no
// fault. Fills the record's parameters as the platform does.
DWORD ExceptionFromSignal(const siginfo_t& Info, EXCEPTION_RECORD& Record);

} // namespace Platform

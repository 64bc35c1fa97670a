#include "Ptrace/PtraceDebugger.h"

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <sys/ptrace.h>
#include <sys/user.h>
#include <sys/wait.h>
#include <unistd.h>

#include "Win32/Errors.h"
#include "Ptrace/ProcessReader.h"
#include <debugapi.h>
#include <handleapi.h>
#include <processthreadsapi.h>
#include <winbase.h>

namespace Platform {

namespace {

constexpr long SeizeOptions = PTRACE_O_TRACECLONE | PTRACE_O_TRACEEXIT;

// The stop that PTRACE_INTERRUPT asked for (or the first stop of a new thread).
bool IsTrapStop(int Status)
{
    return WIFSTOPPED(Status) && (Status >> 16) == PTRACE_EVENT_STOP && WSTOPSIG(Status) == SIGTRAP;
}

// The load address of the process's executable: its first mapping.
LPVOID ImageBase(pid_t ProcessId)
{
    const std::string Executable = ReadExecutablePath(ProcessId);
    for (const MemoryRegion& Region : ReadMemoryMap(ProcessId))
        if (!Executable.empty() && Region.Name == Executable)
            return reinterpret_cast<LPVOID>(Region.Start);
    return nullptr;
}

// An exit status as the exit code that the platform reports: the process's
// code, or 128 and the signal that ended it.
DWORD ExitCodeOf(int Status)
{
    return WIFEXITED(Status) ? static_cast<DWORD>(WEXITSTATUS(Status)) : 128u + static_cast<DWORD>(WTERMSIG(Status));
}

// The longest debug string that an event can report (its length is a WORD).
constexpr ULONG_PTR MaximumStringLength = 0xFFFF;

bool IsStopSignal(int Signal)
{
    return Signal == SIGSTOP || Signal == SIGTSTP || Signal == SIGTTIN || Signal == SIGTTOU;
}

// A bit of a hexadecimal signal mask of a thread's status.
bool MaskHas(const std::string& Mask, int Signal)
{
    const unsigned long long Bits = std::strtoull(Mask.c_str(), nullptr, 16);
    return Signal >= 1 && Signal <= 64 && ((Bits >> (Signal - 1)) & 1u);
}

} // namespace

PtraceDebugger& PtraceDebugger::Instance()
{
    static PtraceDebugger Debugger;
    return Debugger;
}

HANDLE PtraceDebugger::OpenThreadHandle(pid_t ThreadId)
{
    const HANDLE Handle = OpenThread(THREAD_ALL_ACCESS, FALSE, static_cast<DWORD>(ThreadId));
    if (Handle)
        m_ThreadHandles[ThreadId] = Handle;
    return Handle;
}

void PtraceDebugger::CloseThreadHandle(pid_t ThreadId)
{
    const auto Found = m_ThreadHandles.find(ThreadId);
    if (Found == m_ThreadHandles.end())
        return;
    CloseHandle(Found->second);
    m_ThreadHandles.erase(Found);
}

void PtraceDebugger::LeaveSignalsToDebuggee()
{
    for (int Signal : {SIGINT, SIGQUIT, SIGHUP, SIGTERM, SIGTSTP, SIGTTIN, SIGTTOU})
    {
        struct sigaction Ignore = {}, Previous = {};
        Ignore.sa_handler = SIG_IGN;
        sigemptyset(&Ignore.sa_mask);
        if (sigaction(Signal, &Ignore, &Previous) == 0)
            m_SignalActions.emplace_back(Signal, Previous);
    }
}

void PtraceDebugger::Reset()
{
    for (HANDLE& Handle : m_ProcessHandles)
        if (Handle)
            CloseHandle(std::exchange(Handle, nullptr));
    for (const auto& [Id, Handle] : m_ThreadHandles)
        CloseHandle(Handle);
    m_ThreadHandles.clear();
    for (const auto& [Signal, Action] : m_SignalActions)
        sigaction(Signal, &Action, nullptr);
    m_SignalActions.clear();
    m_Threads.clear();
    m_Queue.clear();
    m_Current.reset();
    m_ExitReported = false;
    m_ProcessId = 0;
}

bool PtraceDebugger::WaitForThread(pid_t ThreadId, int& Status)
{
    for (;;)
    {
        if (waitpid(ThreadId, &Status, __WALL) == ThreadId)
            return true;
        if (errno != EINTR)
            return false;
    }
}

BOOL PtraceDebugger::Attach(DWORD ProcessId)
{
    const auto Process = static_cast<pid_t>(ProcessId);
    if (m_ProcessId)
    {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    if (Process <= 0 || Process == getpid())
    {
        SetLastError(Process == getpid() ? ERROR_ACCESS_DENIED : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (ListThreads(Process).empty())
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    m_ProcessId = Process;
    if (const int Error = SeizeAll())
    {
        Detach(ProcessId);
        SetLastErrorFromErrno(Error);
        return FALSE;
    }
    QueueAttachEvents();
    LeaveSignalsToDebuggee();
    return TRUE;
}

int PtraceDebugger::SeizeAll()
{
    // Threads started meanwhile show up in the next pass.
    for (bool Added = true; Added;)
    {
        Added = false;
        for (pid_t Id : ListThreads(m_ProcessId))
        {
            if (m_Threads.count(Id))
                continue;
            if (ptrace(PTRACE_SEIZE, Id, nullptr, SeizeOptions) == -1)
            {
                if (Id != m_ProcessId)
                    continue; // it ended meanwhile
                return errno;
            }
            Added = true;
            Thread& Seized = m_Threads[Id];
            Seized.m_Announced = true;
            ptrace(PTRACE_INTERRUPT, Id, nullptr, nullptr);
            int Status = 0;
            if (!WaitForThread(Id, Status))
            {
                m_Threads.erase(Id);
                continue;
            }
            Seized.m_Stopped = true;
            if (!IsTrapStop(Status))
                Seized.m_PendingStatus = Status;
        }
    }
    return 0;
}

DEBUG_EVENT PtraceDebugger::NewEvent(DWORD Code, pid_t ThreadId) const
{
    DEBUG_EVENT Event = {};
    Event.dwDebugEventCode = Code;
    Event.dwProcessId = static_cast<DWORD>(m_ProcessId);
    Event.dwThreadId = static_cast<DWORD>(ThreadId);
    return Event;
}

void PtraceDebugger::QueueAttachEvents()
{
    // What the platform reports on attaching: the process, its other threads
    // and a breakpoint.
    const auto ProcessId = static_cast<DWORD>(m_ProcessId);
    DEBUG_EVENT Event = NewEvent(CREATE_PROCESS_DEBUG_EVENT, m_ProcessId);
    Event.u.CreateProcessInfo.hProcess = m_ProcessHandles[0] = OpenProcess(PROCESS_ALL_ACCESS, FALSE, ProcessId);
    Event.u.CreateProcessInfo.hThread = m_ProcessHandles[1] = OpenThread(THREAD_ALL_ACCESS, FALSE, ProcessId);
    Event.u.CreateProcessInfo.lpBaseOfImage = ImageBase(m_ProcessId);
    m_Queue.push_back({Event, true, 0});
    for (const auto& [Id, State] : m_Threads)
    {
        if (Id == m_ProcessId)
            continue;
        Event = NewEvent(CREATE_THREAD_DEBUG_EVENT, Id);
        Event.u.CreateThread.hThread = OpenThreadHandle(Id);
        m_Queue.push_back({Event, true, 0});
    }
    Event = NewEvent(EXCEPTION_DEBUG_EVENT, m_ProcessId);
    Event.u.Exception.ExceptionRecord.ExceptionCode = EXCEPTION_BREAKPOINT;
    Event.u.Exception.dwFirstChance = 1;
    m_Queue.push_back({Event, true, 0});
}

BOOL PtraceDebugger::Detach(DWORD ProcessId)
{
    if (!m_ProcessId || static_cast<pid_t>(ProcessId) != m_ProcessId)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    StopAll(0);
    for (auto& [Id, State] : m_Threads)
    {
        if (!State.m_Stopped || (State.m_PendingStatus && !WIFSTOPPED(*State.m_PendingStatus)))
            continue;
        int Signal = State.m_ResumeSignal;
        // A signal that stopped the thread and was not reported yet is
        // delivered; a record of the debugger channel is dropped.
        if (State.m_PendingStatus && (*State.m_PendingStatus >> 16) == 0 &&
            WSTOPSIG(*State.m_PendingStatus) != DebugChannelSignal())
            Signal = WSTOPSIG(*State.m_PendingStatus);
        ptrace(PTRACE_DETACH, Id, nullptr, reinterpret_cast<void*>(static_cast<intptr_t>(Signal)));
    }
    Reset();
    return TRUE;
}

void PtraceDebugger::Queue(const DEBUG_EVENT& Event, bool AllStop, int Signal)
{
    m_Queue.push_back({Event, AllStop, Signal});
    if (AllStop)
        StopAll(static_cast<pid_t>(Event.dwThreadId));
}

void PtraceDebugger::StopAll(pid_t Except)
{
    std::vector<pid_t> Waiting;
    for (auto& [Id, State] : m_Threads)
    {
        // A thread whose end was reported is on its way out: not waited for.
        if (Id == Except || State.m_Stopped || State.m_ExitReported)
            continue;
        if (!State.m_Starting)
            ptrace(PTRACE_INTERRUPT, Id, nullptr, nullptr);
        Waiting.push_back(Id);
    }
    for (pid_t Id : Waiting)
    {
        int Status = 0;
        if (!WaitForThread(Id, Status))
        {
            m_Threads.erase(Id);
            CloseThreadHandle(Id);
            continue;
        }
        Thread& State = m_Threads[Id];
        State.m_Stopped = true;
        if (!IsTrapStop(Status) || State.m_Starting)
            State.m_PendingStatus = Status;
    }
}

void PtraceDebugger::ResumeAll()
{
    for (auto& [Id, State] : m_Threads)
        if (State.m_Stopped && !State.m_PendingStatus)
        {
            // A thread held in a group stop stays stopped, yet it can be
            // interrupted again and SIGCONT wakes it.
            if (State.m_GroupStop)
                ptrace(PTRACE_LISTEN, Id, nullptr, nullptr);
            else
                ptrace(PTRACE_CONT, Id, nullptr, reinterpret_cast<void*>(static_cast<intptr_t>(State.m_ResumeSignal)));
            State.m_Stopped = false;
            State.m_ResumeSignal = 0;
        }
}

bool PtraceDebugger::AllExitReported() const
{
    for (const auto& [Id, State] : m_Threads)
        if (!State.m_ExitReported)
            return false;
    return true;
}

void PtraceDebugger::QueueExit(pid_t ThreadId, DWORD Code)
{
    DEBUG_EVENT Event;
    if (AllExitReported() && !m_ExitReported)
    {
        m_ExitReported = true;
        Event = NewEvent(EXIT_PROCESS_DEBUG_EVENT, ThreadId);
        Event.u.ExitProcess.dwExitCode = Code;
        Queue(Event, true);
        return;
    }
    Event = NewEvent(EXIT_THREAD_DEBUG_EVENT, ThreadId);
    Event.u.ExitThread.dwExitCode = Code;
    Queue(Event, false);
}

void PtraceDebugger::ThreadGone(pid_t ThreadId, int Status)
{
    const bool Reported = m_Threads[ThreadId].m_ExitReported;
    m_Threads.erase(ThreadId);
    const bool Last = AllExitReported();
    if ((Last && !m_ExitReported) || (!Reported && !Last))
        QueueExit(ThreadId, ExitCodeOf(Status));
    if (!Reported && !Last)
        return; // its handle closes when the event is continued
    CloseThreadHandle(ThreadId);
}

bool PtraceDebugger::Translate(pid_t ThreadId, int Status)
{
    const size_t Queued = m_Queue.size();
    if (WIFEXITED(Status) || WIFSIGNALED(Status))
    {
        ThreadGone(ThreadId, Status);
        return m_Queue.size() > Queued;
    }
    if (!WIFSTOPPED(Status))
        return false;
    switch (Status >> 16)
    {
    case PTRACE_EVENT_CLONE: return TranslateClone(ThreadId);
    case PTRACE_EVENT_EXIT:
    {
        unsigned long ExitStatus = 0;
        ptrace(PTRACE_GETEVENTMSG, ThreadId, nullptr, &ExitStatus);
        m_Threads[ThreadId].m_ExitReported = true;
        QueueExit(ThreadId, ExitCodeOf(static_cast<int>(ExitStatus)));
        return true;
    }
    case PTRACE_EVENT_STOP: return TranslateStop(ThreadId, WSTOPSIG(Status));
    case 0: return TranslateSignal(ThreadId, WSTOPSIG(Status));
    default: return false;
    }
}

bool PtraceDebugger::TranslateClone(pid_t ThreadId)
{
    unsigned long NewId = 0;
    ptrace(PTRACE_GETEVENTMSG, ThreadId, nullptr, &NewId);
    Thread& New = m_Threads[static_cast<pid_t>(NewId)];
    if (New.m_Announced)
        return false; // its first stop came first and announced it
    New.m_Starting = !New.m_Stopped;
    New.m_Announced = true;
    DEBUG_EVENT Event = NewEvent(CREATE_THREAD_DEBUG_EVENT, static_cast<pid_t>(NewId));
    Event.u.CreateThread.hThread = OpenThreadHandle(static_cast<pid_t>(NewId));
    Queue(Event, false);
    return true;
}

bool PtraceDebugger::TranslateStop(pid_t ThreadId, int Signal)
{
    // A stop signal's group stop is held until SIGCONT ends it, which the
    // thread reports with a trap like an interrupt's.
    Thread& State = m_Threads[ThreadId];
    State.m_GroupStop = IsStopSignal(Signal);
    State.m_Starting = false;
    if (State.m_Announced)
        return false; // an interrupt or a group stop: no event
    State.m_Announced = true;
    DEBUG_EVENT Event = NewEvent(CREATE_THREAD_DEBUG_EVENT, ThreadId);
    Event.u.CreateThread.hThread = OpenThreadHandle(ThreadId);
    Queue(Event, false);
    return true;
}

bool PtraceDebugger::TranslateSignal(pid_t ThreadId, int Signal)
{
    // A signal is about to be delivered.
    Thread& State = m_Threads[ThreadId];
    siginfo_t Info = {};
    if (ptrace(PTRACE_GETSIGINFO, ThreadId, nullptr, &Info) == -1)
    {
        State.m_ResumeSignal = Signal;
        return false;
    }
    if (Signal == DebugChannelSignal())
    {
        // Never delivered: the process ignores the signal.
        State.m_ResumeSignal = 0;
        return TranslateChannelRecord(ThreadId, Info);
    }
    EXCEPTION_RECORD Record;
    if (!ExceptionFromSignal(Info, Record))
    {
        State.m_ResumeSignal = Signal; // no exception: delivered as it is
        return false;
    }
    user_regs_struct Registers = {};
    ptrace(PTRACE_GETREGS, ThreadId, nullptr, &Registers);
    // After int3 the instruction pointer has passed the breakpoint.
    const bool Int3 = Signal == SIGTRAP && Info.si_code == SI_KERNEL;
    Record.ExceptionAddress = reinterpret_cast<PVOID>(Registers.rip - (Int3 ? 1 : 0));
    DEBUG_EVENT Event = NewEvent(EXCEPTION_DEBUG_EVENT, ThreadId);
    Event.u.Exception.ExceptionRecord = Record;
    Event.u.Exception.dwFirstChance = 1;
    Queue(Event, true, Signal);
    return true;
}

bool PtraceDebugger::TranslateChannelRecord(pid_t ThreadId, const siginfo_t& Info)
{
    // Only the debuggee's own records count; the record lies in its memory.
    EXCEPTION_RECORD Record;
    if (Info.si_code != SI_QUEUE || Info.si_pid != m_ProcessId ||
        ReadProcessBytes(m_ProcessId, reinterpret_cast<uint64_t>(Info.si_value.sival_ptr), &Record, sizeof Record) !=
            sizeof Record)
        return false;
    Record.ExceptionRecord = nullptr;
    if (Record.NumberParameters > EXCEPTION_MAXIMUM_PARAMETERS)
        Record.NumberParameters = EXCEPTION_MAXIMUM_PARAMETERS;
    DEBUG_EVENT Event;
    if ((Record.ExceptionCode == DBG_PRINTEXCEPTION_WIDE_C || Record.ExceptionCode == DBG_PRINTEXCEPTION_C) &&
        Record.NumberParameters >= 2)
    {
        Event = NewEvent(OUTPUT_DEBUG_STRING_EVENT, ThreadId);
        Event.u.DebugString.lpDebugStringData = reinterpret_cast<LPSTR>(Record.ExceptionInformation[1]);
        Event.u.DebugString.fUnicode = Record.ExceptionCode == DBG_PRINTEXCEPTION_WIDE_C;
        Event.u.DebugString.nDebugStringLength =
            static_cast<WORD>(Record.ExceptionInformation[0] < MaximumStringLength ? Record.ExceptionInformation[0]
                                                                                   : MaximumStringLength);
        Queue(Event, false);
        return true;
    }
    Event = NewEvent(EXCEPTION_DEBUG_EVENT, ThreadId);
    Event.u.Exception.ExceptionRecord = Record;
    Event.u.Exception.dwFirstChance = 1;
    Queue(Event, true);
    return true;
}

BOOL PtraceDebugger::WaitForEvent(DEBUG_EVENT& Event, DWORD Milliseconds)
{
    if (!m_ProcessId || m_Current)
    {
        SetLastError(m_ProcessId ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const ULONGLONG Start = GetTickCount64();
    for (;;)
    {
        if (!m_Queue.empty())
        {
            m_Current = m_Queue.front();
            m_Queue.pop_front();
            Event = m_Current->m_Event;
            return TRUE;
        }
        // Stops collected while everything stood still are reported first.
        pid_t PendingThread = 0;
        int PendingStatus = 0;
        for (auto& [Id, State] : m_Threads)
            if (State.m_PendingStatus)
            {
                PendingThread = Id;
                PendingStatus = *State.m_PendingStatus;
                State.m_PendingStatus.reset();
                break;
            }
        if (PendingThread)
        {
            Translate(PendingThread, PendingStatus);
            continue;
        }
        if (m_Threads.empty())
        {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        ResumeAll();

        int Status = 0;
        const pid_t Id = waitpid(-1, &Status, __WALL | (Milliseconds == INFINITE ? 0 : WNOHANG));
        if (Id == -1)
        {
            if (errno == EINTR)
                continue;
            SetLastErrorFromErrno(errno);
            return FALSE;
        }
        if (Id == 0)
        {
            if (GetTickCount64() - Start >= Milliseconds)
            {
                SetLastError(ERROR_SEM_TIMEOUT);
                return FALSE;
            }
            usleep(1000);
            continue;
        }
        auto Found = m_Threads.find(Id);
        if (Found == m_Threads.end())
        {
            // A thread whose creation is still to be seen from its creator;
            // anything else is no thread of the debuggee.
            if (!WIFSTOPPED(Status))
                continue;
            Found = m_Threads.emplace(Id, Thread{}).first;
        }
        Found->second.m_Stopped = WIFSTOPPED(Status);
        Translate(Id, Status);
    }
}

BOOL PtraceDebugger::Continue(DWORD ProcessId, DWORD ThreadId, DWORD Status)
{
    if (!m_Current || static_cast<pid_t>(ProcessId) != m_ProcessId || ThreadId != m_Current->m_Event.dwThreadId ||
        (Status != DBG_CONTINUE && Status != DBG_EXCEPTION_NOT_HANDLED))
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const QueuedEvent Current = *m_Current;
    m_Current.reset();
    if (Current.m_Event.dwDebugEventCode == EXIT_THREAD_DEBUG_EVENT)
        CloseThreadHandle(static_cast<pid_t>(ThreadId));
    if (!Current.m_Signal)
        return TRUE;
    auto Found = m_Threads.find(static_cast<pid_t>(ThreadId));
    if (Found == m_Threads.end())
        return TRUE;
    Found->second.m_ResumeSignal = 0;
    if (Status == DBG_EXCEPTION_NOT_HANDLED)
    {
        // Without a handler of its own the process dies of the signal: the
        // debugger hears of it once more, last chance, before it does.
        if (Current.m_Event.u.Exception.dwFirstChance && !SignalCaught(Found->first, Current.m_Signal))
        {
            QueuedEvent LastChance = Current;
            LastChance.m_Event.u.Exception.dwFirstChance = 0;
            m_Queue.push_front(LastChance);
        }
        else
            Found->second.m_ResumeSignal = Current.m_Signal;
    }
    return TRUE;
}

bool PtraceDebugger::SignalCaught(pid_t ThreadId, int Signal) const
{
    std::string Blocked, Caught;
    if (!ReadStatusField(m_ProcessId, ThreadId, "SigBlk", Blocked) ||
        !ReadStatusField(m_ProcessId, ThreadId, "SigCgt", Caught))
        return false;
    // A blocked fault is not delivered to the handler: it kills.
    return MaskHas(Caught, Signal) && !MaskHas(Blocked, Signal);
}

std::vector<pid_t> PtraceDebugger::StoppedThreads() const
{
    std::vector<pid_t> Threads;
    for (const auto& [Id, State] : m_Threads)
        if (State.m_Stopped && (!State.m_PendingStatus || WIFSTOPPED(*State.m_PendingStatus)))
            Threads.push_back(Id);
    return Threads;
}

} // namespace Platform

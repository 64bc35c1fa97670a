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

    // Seize and stop every thread; threads started meanwhile show up in the
    // next pass.
    for (bool Added = true; Added;)
    {
        Added = false;
        for (pid_t Id : ListThreads(Process))
        {
            if (m_Threads.count(Id))
                continue;
            if (ptrace(PTRACE_SEIZE, Id, nullptr, SeizeOptions) == -1)
            {
                if (Id != Process)
                    continue; // it ended meanwhile
                const int Error = errno;
                Detach(ProcessId);
                SetLastErrorFromErrno(Error);
                return FALSE;
            }
            Added = true;
            Thread& Seized = m_Threads[Id];
            Seized.Announced = true;
            ptrace(PTRACE_INTERRUPT, Id, nullptr, nullptr);
            int Status = 0;
            if (!WaitForThread(Id, Status))
            {
                m_Threads.erase(Id);
                continue;
            }
            Seized.Stopped = true;
            if (!IsTrapStop(Status))
                Seized.PendingStatus = Status;
        }
    }

    // What the platform reports on attaching: the process, its other threads
    // and a breakpoint.
    DEBUG_EVENT Event = {};
    Event.dwDebugEventCode = CREATE_PROCESS_DEBUG_EVENT;
    Event.dwProcessId = ProcessId;
    Event.dwThreadId = ProcessId;
    Event.u.CreateProcessInfo.hProcess = m_ProcessHandles[0] = OpenProcess(PROCESS_ALL_ACCESS, FALSE, ProcessId);
    Event.u.CreateProcessInfo.hThread = m_ProcessHandles[1] = OpenThread(THREAD_ALL_ACCESS, FALSE, ProcessId);
    Event.u.CreateProcessInfo.lpBaseOfImage = ImageBase(Process);
    m_Queue.push_back({Event, true, 0});
    for (const auto& [Id, State] : m_Threads)
    {
        if (Id == Process)
            continue;
        Event = {};
        Event.dwDebugEventCode = CREATE_THREAD_DEBUG_EVENT;
        Event.dwProcessId = ProcessId;
        Event.dwThreadId = static_cast<DWORD>(Id);
        Event.u.CreateThread.hThread = OpenThreadHandle(Id);
        m_Queue.push_back({Event, true, 0});
    }
    Event = {};
    Event.dwDebugEventCode = EXCEPTION_DEBUG_EVENT;
    Event.dwProcessId = ProcessId;
    Event.dwThreadId = ProcessId;
    Event.u.Exception.ExceptionRecord.ExceptionCode = EXCEPTION_BREAKPOINT;
    Event.u.Exception.dwFirstChance = 1;
    m_Queue.push_back({Event, true, 0});
    LeaveSignalsToDebuggee();
    return TRUE;
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
        if (!State.Stopped || (State.PendingStatus && !WIFSTOPPED(*State.PendingStatus)))
            continue;
        int Signal = State.ResumeSignal;
        // A signal that stopped the thread and was not reported yet is
        // delivered; a record of the debugger channel is dropped.
        if (State.PendingStatus && (*State.PendingStatus >> 16) == 0 &&
            WSTOPSIG(*State.PendingStatus) != DebugChannelSignal())
            Signal = WSTOPSIG(*State.PendingStatus);
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
        if (Id == Except || State.Stopped || State.ExitReported)
            continue;
        if (!State.Starting)
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
        State.Stopped = true;
        if (!IsTrapStop(Status) || State.Starting)
            State.PendingStatus = Status;
    }
}

void PtraceDebugger::ResumeAll()
{
    for (auto& [Id, State] : m_Threads)
        if (State.Stopped && !State.PendingStatus)
        {
            // A thread held in a group stop stays stopped, yet it can be
            // interrupted again and SIGCONT wakes it.
            if (State.GroupStop)
                ptrace(PTRACE_LISTEN, Id, nullptr, nullptr);
            else
                ptrace(PTRACE_CONT, Id, nullptr,
                       reinterpret_cast<void*>(static_cast<intptr_t>(State.ResumeSignal)));
            State.Stopped = false;
            State.ResumeSignal = 0;
        }
}

void PtraceDebugger::ThreadGone(pid_t ThreadId, int Status)
{
    const bool Reported = m_Threads[ThreadId].ExitReported;
    m_Threads.erase(ThreadId);
    bool AllExited = true;
    for (const auto& [Id, State] : m_Threads)
        AllExited = AllExited && State.ExitReported;
    DEBUG_EVENT Event = {};
    Event.dwProcessId = static_cast<DWORD>(m_ProcessId);
    Event.dwThreadId = static_cast<DWORD>(ThreadId);
    const DWORD Code = WIFEXITED(Status) ? static_cast<DWORD>(WEXITSTATUS(Status))
                                         : 128u + static_cast<DWORD>(WTERMSIG(Status));
    if (AllExited && !m_ExitReported)
    {
        m_ExitReported = true;
        Event.dwDebugEventCode = EXIT_PROCESS_DEBUG_EVENT;
        Event.u.ExitProcess.dwExitCode = Code;
        Queue(Event, true);
    }
    else if (!Reported && !AllExited)
    {
        Event.dwDebugEventCode = EXIT_THREAD_DEBUG_EVENT;
        Event.u.ExitThread.dwExitCode = Code;
        Queue(Event, false);
        return; // its handle closes when the event is continued
    }
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
    Thread& State = m_Threads[ThreadId];
    const int Signal = WSTOPSIG(Status);
    DEBUG_EVENT Event = {};
    Event.dwProcessId = static_cast<DWORD>(m_ProcessId);
    Event.dwThreadId = static_cast<DWORD>(ThreadId);
    switch (Status >> 16)
    {
    case PTRACE_EVENT_CLONE:
    {
        unsigned long NewId = 0;
        ptrace(PTRACE_GETEVENTMSG, ThreadId, nullptr, &NewId);
        Thread& New = m_Threads[static_cast<pid_t>(NewId)];
        if (New.Announced)
            return false; // its first stop came first and announced it
        New.Starting = !New.Stopped;
        New.Announced = true;
        Event.dwDebugEventCode = CREATE_THREAD_DEBUG_EVENT;
        Event.dwThreadId = static_cast<DWORD>(NewId);
        Event.u.CreateThread.hThread = OpenThreadHandle(static_cast<pid_t>(NewId));
        Queue(Event, false);
        return true;
    }
    case PTRACE_EVENT_EXIT:
    {
        unsigned long ExitStatus = 0;
        ptrace(PTRACE_GETEVENTMSG, ThreadId, nullptr, &ExitStatus);
        const int Value = static_cast<int>(ExitStatus);
        const DWORD Code = WIFEXITED(Value) ? static_cast<DWORD>(WEXITSTATUS(Value))
                                            : 128u + static_cast<DWORD>(WTERMSIG(Value));
        State.ExitReported = true;
        bool AllExited = true;
        for (const auto& [Id, Other] : m_Threads)
            AllExited = AllExited && Other.ExitReported;
        if (AllExited && !m_ExitReported)
        {
            m_ExitReported = true;
            Event.dwDebugEventCode = EXIT_PROCESS_DEBUG_EVENT;
            Event.u.ExitProcess.dwExitCode = Code;
            Queue(Event, true);
        }
        else
        {
            Event.dwDebugEventCode = EXIT_THREAD_DEBUG_EVENT;
            Event.u.ExitThread.dwExitCode = Code;
            Queue(Event, false);
        }
        return true;
    }
    case PTRACE_EVENT_STOP:
        // A stop signal's group stop is held until SIGCONT ends it, which
        // the thread reports with a trap like an interrupt's.
        State.GroupStop = IsStopSignal(Signal);
        State.Starting = false;
        if (State.Announced)
            return false; // an interrupt or a group stop: no event
        State.Announced = true;
        Event.dwDebugEventCode = CREATE_THREAD_DEBUG_EVENT;
        Event.u.CreateThread.hThread = OpenThreadHandle(ThreadId);
        Queue(Event, false);
        return true;
    case 0: break;
    default: return false;
    }

    // A signal is about to be delivered.
    siginfo_t Info = {};
    if (ptrace(PTRACE_GETSIGINFO, ThreadId, nullptr, &Info) == -1)
    {
        State.ResumeSignal = Signal;
        return false;
    }
    if (Signal == DebugChannelSignal())
    {
        // A record of the debugger channel, never delivered: the process
        // ignores the signal.
        State.ResumeSignal = 0;
        EXCEPTION_RECORD Record;
        if (Info.si_code != SI_QUEUE || Info.si_pid != m_ProcessId ||
            ReadProcessBytes(m_ProcessId, reinterpret_cast<uint64_t>(Info.si_value.sival_ptr), &Record,
                             sizeof Record) != sizeof Record)
            return false;
        Record.ExceptionRecord = nullptr;
        if (Record.NumberParameters > EXCEPTION_MAXIMUM_PARAMETERS)
            Record.NumberParameters = EXCEPTION_MAXIMUM_PARAMETERS;
        if ((Record.ExceptionCode == DBG_PRINTEXCEPTION_WIDE_C || Record.ExceptionCode == DBG_PRINTEXCEPTION_C) &&
            Record.NumberParameters >= 2)
        {
            Event.dwDebugEventCode = OUTPUT_DEBUG_STRING_EVENT;
            Event.u.DebugString.lpDebugStringData = reinterpret_cast<LPSTR>(Record.ExceptionInformation[1]);
            Event.u.DebugString.fUnicode = Record.ExceptionCode == DBG_PRINTEXCEPTION_WIDE_C;
            Event.u.DebugString.nDebugStringLength =
                static_cast<WORD>(Record.ExceptionInformation[0] < 0xFFFF ? Record.ExceptionInformation[0] : 0xFFFF);
            Queue(Event, false);
            return true;
        }
        Event.dwDebugEventCode = EXCEPTION_DEBUG_EVENT;
        Event.u.Exception.ExceptionRecord = Record;
        Event.u.Exception.dwFirstChance = 1;
        Queue(Event, true);
        return true;
    }

    EXCEPTION_RECORD Record;
    if (!ExceptionFromSignal(Info, Record))
    {
        State.ResumeSignal = Signal; // no exception: delivered as it is
        return false;
    }
    user_regs_struct Registers = {};
    ptrace(PTRACE_GETREGS, ThreadId, nullptr, &Registers);
    // After int3 the instruction pointer has passed the breakpoint.
    const bool Int3 = Signal == SIGTRAP && Info.si_code == SI_KERNEL;
    Record.ExceptionAddress = reinterpret_cast<PVOID>(Registers.rip - (Int3 ? 1 : 0));
    Event.dwDebugEventCode = EXCEPTION_DEBUG_EVENT;
    Event.u.Exception.ExceptionRecord = Record;
    Event.u.Exception.dwFirstChance = 1;
    Queue(Event, true, Signal);
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
            Event = m_Current->Event;
            return TRUE;
        }
        // Stops collected while everything stood still are reported first.
        pid_t PendingThread = 0;
        int PendingStatus = 0;
        for (auto& [Id, State] : m_Threads)
            if (State.PendingStatus)
            {
                PendingThread = Id;
                PendingStatus = *State.PendingStatus;
                State.PendingStatus.reset();
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
        Found->second.Stopped = WIFSTOPPED(Status);
        Translate(Id, Status);
    }
}

BOOL PtraceDebugger::Continue(DWORD ProcessId, DWORD ThreadId, DWORD Status)
{
    if (!m_Current || static_cast<pid_t>(ProcessId) != m_ProcessId || ThreadId != m_Current->Event.dwThreadId ||
        (Status != DBG_CONTINUE && Status != DBG_EXCEPTION_NOT_HANDLED))
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const QueuedEvent Current = *m_Current;
    m_Current.reset();
    if (Current.Event.dwDebugEventCode == EXIT_THREAD_DEBUG_EVENT)
        CloseThreadHandle(static_cast<pid_t>(ThreadId));
    if (!Current.Signal)
        return TRUE;
    auto Found = m_Threads.find(static_cast<pid_t>(ThreadId));
    if (Found == m_Threads.end())
        return TRUE;
    Found->second.ResumeSignal = 0;
    if (Status == DBG_EXCEPTION_NOT_HANDLED)
    {
        // Without a handler of its own the process dies of the signal: the
        // debugger hears of it once more, last chance, before it does.
        if (Current.Event.u.Exception.dwFirstChance && !SignalCaught(Found->first, Current.Signal))
        {
            QueuedEvent LastChance = Current;
            LastChance.Event.u.Exception.dwFirstChance = 0;
            m_Queue.push_front(LastChance);
        }
        else
            Found->second.ResumeSignal = Current.Signal;
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
        if (State.Stopped && (!State.PendingStatus || WIFSTOPPED(*State.PendingStatus)))
            Threads.push_back(Id);
    return Threads;
}

} // namespace Platform

#include "Ptrace/Debugger.h"

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include "Ptrace/ProcessReader.h"

namespace Ptrace {

namespace {

constexpr long SeizeOptions = PTRACE_O_TRACECLONE | PTRACE_O_TRACEEXIT;

// The stop that PTRACE_INTERRUPT asked for (or the first stop of a new thread).
bool IsTrapStop(int Status)
{
    return WIFSTOPPED(Status) && (Status >> 16) == PTRACE_EVENT_STOP && WSTOPSIG(Status) == SIGTRAP;
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

void* SignalArgument(int Signal) { return reinterpret_cast<void*>(static_cast<intptr_t>(Signal)); }

} // namespace

bool IsFaultSignal(int Signal)
{
    return Signal == SIGSEGV || Signal == SIGBUS || Signal == SIGILL || Signal == SIGFPE || Signal == SIGTRAP ||
           Signal == SIGABRT;
}

Debugger::~Debugger()
{
    if (m_ProcessId)
        Detach(m_ProcessId);
}

void Debugger::Reset()
{
    m_Threads.clear();
    m_Queue.clear();
    m_Current.reset();
    m_ExitReported = false;
    m_ProcessId = 0;
}

bool Debugger::WaitForThread(pid_t ThreadId, int& Status)
{
    for (;;)
    {
        if (waitpid(ThreadId, &Status, __WALL) == ThreadId)
            return true;
        if (errno != EINTR)
            return false;
    }
}

int Debugger::Attach(pid_t ProcessId)
{
    if (m_ProcessId)
        return EBUSY;
    if (ProcessId <= 0)
        return EINVAL;
    if (ProcessId == getpid())
        return EPERM;
    if (Platform::ListThreads(ProcessId).empty())
        return ESRCH;
    m_ProcessId = ProcessId;
    if (const int Error = SeizeAll())
    {
        Detach(ProcessId);
        return Error;
    }
    QueueAttachEvents();
    return 0;
}

int Debugger::SeizeAll()
{
    // Threads started meanwhile show up in the next pass.
    for (bool Added = true; Added;)
    {
        Added = false;
        for (pid_t Id : Platform::ListThreads(m_ProcessId))
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

Event Debugger::NewEvent(EventKind Kind, pid_t ThreadId) const
{
    Event New;
    New.Kind = Kind;
    New.ProcessId = m_ProcessId;
    New.ThreadId = ThreadId;
    return New;
}

void Debugger::QueueAttachEvents()
{
    // The process, its other threads, and the end of attaching.
    m_Queue.push_back({NewEvent(EventKind::Attached, m_ProcessId), 0});
    for (const auto& [Id, State] : m_Threads)
        if (Id != m_ProcessId)
            m_Queue.push_back({NewEvent(EventKind::ThreadCreated, Id), 0});
    m_Queue.push_back({NewEvent(EventKind::AttachStop, m_ProcessId), 0});
}

int Debugger::Detach(pid_t ProcessId)
{
    if (!m_ProcessId || ProcessId != m_ProcessId)
        return EINVAL;
    StopAll(0);
    for (auto& [Id, State] : m_Threads)
    {
        if (!State.m_Stopped || (State.m_PendingStatus && !WIFSTOPPED(*State.m_PendingStatus)))
            continue;
        int Signal = State.m_ResumeSignal;
        // A signal that stopped the thread and was not reported yet is
        // delivered; a record of the channel is dropped.
        if (State.m_PendingStatus && (*State.m_PendingStatus >> 16) == 0 &&
            !(m_ChannelSignal && WSTOPSIG(*State.m_PendingStatus) == m_ChannelSignal))
            Signal = WSTOPSIG(*State.m_PendingStatus);
        ptrace(PTRACE_DETACH, Id, nullptr, SignalArgument(Signal));
    }
    Reset();
    return 0;
}

void Debugger::Queue(const Event& Queued, bool AllStop, int Signal)
{
    m_Queue.push_back({Queued, Signal});
    if (AllStop)
        StopAll(Queued.ThreadId);
}

void Debugger::StopOthers()
{
    if (m_Current)
        StopAll(m_Current->m_Event.ThreadId);
}

void Debugger::StopAll(pid_t Except)
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
            continue;
        }
        Thread& State = m_Threads[Id];
        State.m_Stopped = true;
        if (!IsTrapStop(Status) || State.m_Starting)
            State.m_PendingStatus = Status;
    }
}

void Debugger::ResumeAll()
{
    for (auto& [Id, State] : m_Threads)
        if (State.m_Stopped && !State.m_PendingStatus)
        {
            // A thread held in a group stop stays stopped, yet it can be
            // interrupted again and SIGCONT wakes it.
            if (State.m_GroupStop)
                ptrace(PTRACE_LISTEN, Id, nullptr, nullptr);
            else
                ptrace(PTRACE_CONT, Id, nullptr, SignalArgument(State.m_ResumeSignal));
            State.m_Stopped = false;
            State.m_ResumeSignal = 0;
        }
}

bool Debugger::AllExitReported() const
{
    for (const auto& [Id, State] : m_Threads)
        if (!State.m_ExitReported)
            return false;
    return true;
}

void Debugger::QueueExit(pid_t ThreadId, int Status)
{
    if (AllExitReported() && !m_ExitReported)
    {
        m_ExitReported = true;
        Event Exit = NewEvent(EventKind::ProcessExited, ThreadId);
        Exit.Status = Status;
        Queue(Exit, true);
        return;
    }
    Event Exit = NewEvent(EventKind::ThreadExited, ThreadId);
    Exit.Status = Status;
    Queue(Exit, false);
}

bool Debugger::Translate(pid_t ThreadId, int Status)
{
    if (WIFEXITED(Status) || WIFSIGNALED(Status))
    {
        const bool Reported = m_Threads[ThreadId].m_ExitReported;
        m_Threads.erase(ThreadId);
        const bool Last = AllExitReported();
        if ((Last && !m_ExitReported) || (!Reported && !Last))
        {
            QueueExit(ThreadId, Status);
            return true;
        }
        return false;
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
        QueueExit(ThreadId, static_cast<int>(ExitStatus));
        return true;
    }
    case PTRACE_EVENT_STOP: return TranslateStop(ThreadId, WSTOPSIG(Status));
    case 0: return TranslateSignal(ThreadId, WSTOPSIG(Status));
    default: return false;
    }
}

bool Debugger::TranslateClone(pid_t ThreadId)
{
    unsigned long NewId = 0;
    ptrace(PTRACE_GETEVENTMSG, ThreadId, nullptr, &NewId);
    Thread& New = m_Threads[static_cast<pid_t>(NewId)];
    if (New.m_Announced)
        return false; // its first stop came first and announced it
    New.m_Starting = !New.m_Stopped;
    New.m_Announced = true;
    Queue(NewEvent(EventKind::ThreadCreated, static_cast<pid_t>(NewId)), false);
    return true;
}

bool Debugger::TranslateStop(pid_t ThreadId, int Signal)
{
    // A stop signal's group stop is held until SIGCONT ends it, which the
    // thread reports with a trap like an interrupt's.
    Thread& State = m_Threads[ThreadId];
    State.m_GroupStop = IsStopSignal(Signal);
    State.m_Starting = false;
    if (State.m_Announced)
        return false; // an interrupt or a group stop: no event
    State.m_Announced = true;
    Queue(NewEvent(EventKind::ThreadCreated, ThreadId), false);
    return true;
}

bool Debugger::TranslateSignal(pid_t ThreadId, int Signal)
{
    // A signal is about to be delivered.
    Thread& State = m_Threads[ThreadId];
    siginfo_t Info = {};
    if (ptrace(PTRACE_GETSIGINFO, ThreadId, nullptr, &Info) == -1)
    {
        State.m_ResumeSignal = Signal;
        return false;
    }
    if (m_ChannelSignal && Signal == m_ChannelSignal)
    {
        // Never delivered: the process ignores the signal. Only the
        // debuggee's own records count.
        State.m_ResumeSignal = 0;
        if (Info.si_code != SI_QUEUE || Info.si_pid != m_ProcessId)
            return false;
        Event Record = NewEvent(EventKind::ChannelRecord, ThreadId);
        Record.Info = Info;
        Queue(Record, false);
        return true;
    }
    if (!IsFaultSignal(Info.si_signo))
    {
        State.m_ResumeSignal = Signal; // no fault: delivered as it is
        return false;
    }
    user_regs_struct General = {};
    ptrace(PTRACE_GETREGS, ThreadId, nullptr, &General);
    // After int3 the instruction pointer has passed the breakpoint.
    const bool Int3 = Signal == SIGTRAP && Info.si_code == SI_KERNEL;
    Event Fault = NewEvent(EventKind::Fault, ThreadId);
    Fault.Info = Info;
    Fault.Address = General.rip - (Int3 ? 1 : 0);
    Queue(Fault, true, Signal);
    return true;
}

bool Debugger::IsOwnThread(pid_t Id) const
{
    // A thread whose creation is still to be seen from its creator is known
    // by its process.
    return m_Threads.count(Id) || Platform::ReadStatusNumber(Id, "Tgid") == m_ProcessId;
}

pid_t Debugger::NextStatus(bool Block, int& Status)
{
    // A look without reaping first: the status may be another's, a child of
    // this process that is no thread of the debuggee, or another debugger's.
    siginfo_t Info = {};
    if (waitid(P_ALL, 0, &Info, WEXITED | WSTOPPED | __WALL | WNOWAIT | (Block ? 0 : WNOHANG)) == -1)
        return -1;
    if (Info.si_pid != 0 && IsOwnThread(Info.si_pid))
        return waitpid(Info.si_pid, &Status, __WALL);
    // Someone else's, or none yet: each thread of the debuggee in turn.
    for (const auto& [Id, State] : m_Threads)
        if (waitpid(Id, &Status, __WALL | WNOHANG) == Id)
            return Id;
    return 0;
}

int Debugger::Wait(Event& Next, std::optional<std::chrono::milliseconds> Timeout)
{
    if (!m_ProcessId)
        return EBADF;
    if (m_Current)
        return EINVAL;
    const auto Start = std::chrono::steady_clock::now();
    for (;;)
    {
        if (!m_Queue.empty())
        {
            m_Current = m_Queue.front();
            m_Queue.pop_front();
            Next = m_Current->m_Event;
            return 0;
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
            return EBADF;
        ResumeAll();

        int Status = 0;
        const pid_t Id = NextStatus(!Timeout, Status);
        if (Id == -1)
        {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (Id == 0)
        {
            if (Timeout && std::chrono::steady_clock::now() - Start >= *Timeout)
                return ETIMEDOUT;
            usleep(1000);
            continue;
        }
        auto Found = m_Threads.find(Id);
        if (Found == m_Threads.end())
        {
            if (!WIFSTOPPED(Status))
                continue;
            Found = m_Threads.emplace(Id, Thread{}).first;
        }
        Found->second.m_Stopped = WIFSTOPPED(Status);
        Translate(Id, Status);
    }
}

int Debugger::Continue(pid_t ProcessId, pid_t ThreadId, bool PassSignal)
{
    if (!m_Current || ProcessId != m_ProcessId || ThreadId != m_Current->m_Event.ThreadId)
        return EINVAL;
    const QueuedEvent Current = *m_Current;
    m_Current.reset();
    if (!Current.m_Signal)
        return 0;
    auto Found = m_Threads.find(ThreadId);
    if (Found == m_Threads.end())
        return 0;
    Found->second.m_ResumeSignal = 0;
    if (PassSignal)
    {
        // Without a handler of its own the process dies of the signal: the
        // debugger hears of it once more, last chance, before it does.
        if (!Current.m_Event.LastChance && !SignalCaught(Found->first, Current.m_Signal))
        {
            QueuedEvent LastChance = Current;
            LastChance.m_Event.LastChance = true;
            m_Queue.push_front(LastChance);
        }
        else
            Found->second.m_ResumeSignal = Current.m_Signal;
    }
    return 0;
}

bool Debugger::SignalCaught(pid_t ThreadId, int Signal) const
{
    std::string Blocked, Caught;
    if (!Platform::ReadStatusField(m_ProcessId, ThreadId, "SigBlk", Blocked) ||
        !Platform::ReadStatusField(m_ProcessId, ThreadId, "SigCgt", Caught))
        return false;
    // A blocked fault is not delivered to the handler: it kills.
    return MaskHas(Caught, Signal) && !MaskHas(Blocked, Signal);
}

std::vector<pid_t> Debugger::StoppedThreads() const
{
    std::vector<pid_t> Threads;
    for (const auto& [Id, State] : m_Threads)
        if (State.m_Stopped && (!State.m_PendingStatus || WIFSTOPPED(*State.m_PendingStatus)))
            Threads.push_back(Id);
    return Threads;
}

} // namespace Ptrace

// The Win32 debugging functions over the ptrace back end: the one debugger of
// the process, the debug events and handles made of its events, and the
// memory of debugged processes.
//
// A thread's handle, handed out with its creation event, is closed when its
// exit event is continued, as the platform does; the handles of the process's
// creation event are closed at detaching. While it debugs, the debugger
// ignores the signals of the terminal and SIGTERM: sent to the whole process
// group, they are for the debuggee, and the debugger ends when it ends.

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <sys/wait.h>
#include <utility>
#include <vector>

#include "Win32/Debugger.h"
#include "Win32/Errors.h"
#include "Win32/Handles.h"
#include "Ptrace/ProcessReader.h"
#include <debugapi.h>
#include <handleapi.h>
#include <memoryapi.h>
#include <processthreadsapi.h>
#include <winbase.h>

namespace Platform {

namespace {

struct DebugSession
{
    Ptrace::Debugger Debugger{DebugChannelSignal()};
    HANDLE ProcessHandles[2] = {};                               // of the creation event, closed at detach
    std::map<pid_t, HANDLE> ThreadHandles;                       // of the threads that live
    std::vector<std::pair<int, struct sigaction>> SignalActions; // restored at detach
    DWORD CurrentCode = 0;                                       // of the event not continued yet
};

DebugSession& Session()
{
    // Never destroyed: ending the process detaches as the kernel does.
    static DebugSession* Instance = new DebugSession;
    return *Instance;
}

// The back end's errnos as the debugging functions report them.
void SetDebugError(int Error)
{
    if (Error == EBUSY)
        SetLastError(ERROR_NOT_SUPPORTED); // one process is debugged at a time
    else if (Error == ETIMEDOUT)
        SetLastError(ERROR_SEM_TIMEOUT);
    else
        SetLastErrorFromErrno(Error);
}

void LeaveSignalsToDebuggee(DebugSession& Debug)
{
    for (int Signal : {SIGINT, SIGQUIT, SIGHUP, SIGTERM, SIGTSTP, SIGTTIN, SIGTTOU})
    {
        struct sigaction Ignore = {}, Previous = {};
        Ignore.sa_handler = SIG_IGN;
        sigemptyset(&Ignore.sa_mask);
        if (sigaction(Signal, &Ignore, &Previous) == 0)
            Debug.SignalActions.emplace_back(Signal, Previous);
    }
}

void RestoreSignals(DebugSession& Debug)
{
    for (const auto& [Signal, Action] : Debug.SignalActions)
        sigaction(Signal, &Action, nullptr);
    Debug.SignalActions.clear();
}

void EndSession(DebugSession& Debug)
{
    for (HANDLE& Handle : Debug.ProcessHandles)
        if (Handle)
            CloseHandle(std::exchange(Handle, nullptr));
    for (const auto& [Id, Handle] : Debug.ThreadHandles)
        CloseHandle(Handle);
    Debug.ThreadHandles.clear();
    RestoreSignals(Debug);
    Debug.CurrentCode = 0;
}

HANDLE OpenThreadHandle(DebugSession& Debug, pid_t ThreadId)
{
    const HANDLE Handle = OpenThread(THREAD_ALL_ACCESS, FALSE, static_cast<DWORD>(ThreadId));
    if (Handle)
        Debug.ThreadHandles[ThreadId] = Handle;
    return Handle;
}

void CloseThreadHandle(DebugSession& Debug, pid_t ThreadId)
{
    const auto Found = Debug.ThreadHandles.find(ThreadId);
    if (Found == Debug.ThreadHandles.end())
        return;
    CloseHandle(Found->second);
    Debug.ThreadHandles.erase(Found);
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

// A wait status as the exit code that the platform reports: the process's
// code, or 128 and the signal that ended it.
DWORD ExitCodeOf(int Status)
{
    return WIFEXITED(Status) ? static_cast<DWORD>(WEXITSTATUS(Status)) : 128u + static_cast<DWORD>(WTERMSIG(Status));
}

// The longest debug string that an event can report (its length is a WORD).
constexpr ULONG_PTR MaximumStringLength = 0xFFFF;

// A record of the debugger channel, read from the debuggee's memory: a debug
// string, or an exception that stops every thread. False when unreadable.
bool ChannelEvent(DebugSession& Debug, const Ptrace::Event& From, DEBUG_EVENT& To)
{
    EXCEPTION_RECORD Record;
    if (ReadProcessBytes(From.ProcessId, reinterpret_cast<uint64_t>(From.Info.si_value.sival_ptr), &Record,
                         sizeof Record) != sizeof Record)
        return false;
    Record.ExceptionRecord = nullptr;
    if (Record.NumberParameters > EXCEPTION_MAXIMUM_PARAMETERS)
        Record.NumberParameters = EXCEPTION_MAXIMUM_PARAMETERS;
    if ((Record.ExceptionCode == DBG_PRINTEXCEPTION_WIDE_C || Record.ExceptionCode == DBG_PRINTEXCEPTION_C) &&
        Record.NumberParameters >= 2)
    {
        To.dwDebugEventCode = OUTPUT_DEBUG_STRING_EVENT;
        To.u.DebugString.lpDebugStringData = reinterpret_cast<LPSTR>(Record.ExceptionInformation[1]);
        To.u.DebugString.fUnicode = Record.ExceptionCode == DBG_PRINTEXCEPTION_WIDE_C;
        To.u.DebugString.nDebugStringLength =
            static_cast<WORD>(std::min(Record.ExceptionInformation[0], MaximumStringLength));
        return true;
    }
    To.dwDebugEventCode = EXCEPTION_DEBUG_EVENT;
    To.u.Exception.ExceptionRecord = Record;
    To.u.Exception.dwFirstChance = 1;
    Debug.Debugger.StopOthers();
    return true;
}

// The debug event that a back end's event stands for; false for none.
bool ToDebugEvent(DebugSession& Debug, const Ptrace::Event& From, DEBUG_EVENT& To)
{
    To = {};
    To.dwProcessId = static_cast<DWORD>(From.ProcessId);
    To.dwThreadId = static_cast<DWORD>(From.ThreadId);
    switch (From.Kind)
    {
    case Ptrace::EventKind::Attached:
    {
        CREATE_PROCESS_DEBUG_INFO& Info = To.u.CreateProcessInfo;
        To.dwDebugEventCode = CREATE_PROCESS_DEBUG_EVENT;
        Info.hProcess = Debug.ProcessHandles[0] = OpenProcess(PROCESS_ALL_ACCESS, FALSE, To.dwProcessId);
        Info.hThread = Debug.ProcessHandles[1] = OpenThread(THREAD_ALL_ACCESS, FALSE, To.dwProcessId);
        Info.lpBaseOfImage = ImageBase(From.ProcessId);
        return true;
    }
    case Ptrace::EventKind::ThreadCreated:
        To.dwDebugEventCode = CREATE_THREAD_DEBUG_EVENT;
        To.u.CreateThread.hThread = OpenThreadHandle(Debug, From.ThreadId);
        return true;
    case Ptrace::EventKind::AttachStop:
        // What the platform reports once attached: a breakpoint.
        To.dwDebugEventCode = EXCEPTION_DEBUG_EVENT;
        To.u.Exception.ExceptionRecord.ExceptionCode = EXCEPTION_BREAKPOINT;
        To.u.Exception.dwFirstChance = 1;
        return true;
    case Ptrace::EventKind::ThreadExited:
        To.dwDebugEventCode = EXIT_THREAD_DEBUG_EVENT;
        To.u.ExitThread.dwExitCode = ExitCodeOf(From.Status);
        return true;
    case Ptrace::EventKind::ProcessExited:
        To.dwDebugEventCode = EXIT_PROCESS_DEBUG_EVENT;
        To.u.ExitProcess.dwExitCode = ExitCodeOf(From.Status);
        return true;
    case Ptrace::EventKind::Fault:
    {
        EXCEPTION_RECORD& Record = To.u.Exception.ExceptionRecord;
        To.dwDebugEventCode = EXCEPTION_DEBUG_EVENT;
        ExceptionFromSignal(From.Info, Record);
        Record.ExceptionAddress = reinterpret_cast<PVOID>(From.Address);
        To.u.Exception.dwFirstChance = From.LastChance ? 0 : 1;
        return true;
    }
    case Ptrace::EventKind::ChannelRecord: return ChannelEvent(Debug, From, To);
    }
    return false;
}

} // namespace

Ptrace::Debugger& ProcessDebugger() { return Session().Debugger; }

} // namespace Platform

BOOL DebugActiveProcess(DWORD ProcessId)
{
    auto& Debug = Platform::Session();
    // Ignored before the attach, so that a Ctrl-C to the debuggee's group
    // never finds its debugger attached and still defenceless; a session
    // that goes on keeps what it saved.
    const bool InSession = !Debug.SignalActions.empty();
    if (!InSession)
        Platform::LeaveSignalsToDebuggee(Debug);
    if (const int Error = Debug.Debugger.Attach(static_cast<pid_t>(ProcessId)))
    {
        if (!InSession)
            Platform::RestoreSignals(Debug);
        Platform::SetDebugError(Error);
        return FALSE;
    }
    return TRUE;
}

BOOL DebugActiveProcessStop(DWORD ProcessId)
{
    auto& Debug = Platform::Session();
    if (const int Error = Debug.Debugger.Detach(static_cast<pid_t>(ProcessId)))
    {
        Platform::SetDebugError(Error);
        return FALSE;
    }
    Platform::EndSession(Debug);
    return TRUE;
}

BOOL WaitForDebugEventEx(DEBUG_EVENT* DebugEvent, DWORD Milliseconds)
{
    if (!DebugEvent)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto& Debug = Platform::Session();
    const auto Start = std::chrono::steady_clock::now();
    for (;;)
    {
        std::optional<std::chrono::milliseconds> Timeout;
        if (Milliseconds != INFINITE)
            Timeout = std::max(
                std::chrono::milliseconds(Milliseconds) -
                    std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - Start),
                std::chrono::milliseconds(0));
        Ptrace::Event Next;
        if (const int Error = Debug.Debugger.Wait(Next, Timeout))
        {
            Platform::SetDebugError(Error);
            return FALSE;
        }
        DEBUG_EVENT Event;
        if (Platform::ToDebugEvent(Debug, Next, Event))
        {
            Debug.CurrentCode = Event.dwDebugEventCode;
            *DebugEvent = Event;
            return TRUE;
        }
        // A record that could not be read: the thread goes on without it.
        Debug.Debugger.Continue(Next.ProcessId, Next.ThreadId, false);
    }
}

BOOL ContinueDebugEvent(DWORD ProcessId, DWORD ThreadId, DWORD ContinueStatus)
{
    auto& Debug = Platform::Session();
    if (ContinueStatus != DBG_CONTINUE && ContinueStatus != DBG_EXCEPTION_NOT_HANDLED)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (const int Error = Debug.Debugger.Continue(static_cast<pid_t>(ProcessId), static_cast<pid_t>(ThreadId),
                                                  ContinueStatus == DBG_EXCEPTION_NOT_HANDLED))
    {
        Platform::SetDebugError(Error);
        return FALSE;
    }
    if (Debug.CurrentCode == EXIT_THREAD_DEBUG_EVENT || Debug.CurrentCode == EXIT_PROCESS_DEBUG_EVENT)
        Platform::CloseThreadHandle(Debug, static_cast<pid_t>(ThreadId));
    Debug.CurrentCode = 0;
    return TRUE;
}

BOOL ReadProcessMemory(HANDLE Process, LPCVOID BaseAddress, LPVOID Buffer, SIZE_T Size, SIZE_T* NumberOfBytesRead)
{
    if (NumberOfBytesRead)
        *NumberOfBytesRead = 0;
    Platform::HandleObject Object;
    if (!Platform::FindHandle(Process, Platform::HandleKind::Process, Object))
        return FALSE;
    if (!Buffer && Size)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const SIZE_T Done =
        Platform::ReadProcessBytes(Object.ProcessId, reinterpret_cast<uint64_t>(BaseAddress), Buffer, Size);
    if (Done < Size)
    {
        // Unreadable memory is a partial copy, as on the platform.
        if (Done > 0 || errno == EFAULT || errno == EIO)
            SetLastError(ERROR_PARTIAL_COPY);
        else
            Platform::SetLastErrorFromErrno(errno);
        if (NumberOfBytesRead)
            *NumberOfBytesRead = Done;
        return FALSE;
    }
    if (NumberOfBytesRead)
        *NumberOfBytesRead = Done;
    return TRUE;
}

// Processes and threads: creation with the Windows command-line rules,
// identities, and handles for them.

#include <cerrno>
#include <cstdint>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <spawn.h>
#include <string>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "Ptrace/ProcessReader.h"
#include "Win32/Errors.h"
#include "Win32/Handles.h"
#include "ProcessStart.h"
#include "Win32/Utf8.h"
#include <debugapi.h>
#include <libloaderapi.h>
#include <processthreadsapi.h>
#include <shellapi.h>
#include <winternl.h>
#include <winbase.h>

extern char** environ;

DWORD GetCurrentProcessId() { return static_cast<DWORD>(getpid()); }
DWORD GetCurrentThreadId() { return static_cast<DWORD>(gettid()); }

namespace {

// 100-ns units since 1601-01-01 at 1970-01-01.
constexpr uint64_t UnixEpochInFileTime = 116444736000000000ull;

FILETIME FileTimeOf(uint64_t HundredNanoseconds)
{
    return {static_cast<DWORD>(HundredNanoseconds), static_cast<DWORD>(HundredNanoseconds >> 32)};
}

uint64_t HundredNanosecondsOf(const timeval& Time)
{
    return static_cast<uint64_t>(Time.tv_sec) * 10'000'000u + static_cast<uint64_t>(Time.tv_usec) * 10u;
}

uint64_t HundredNanosecondsOf(const timespec& Time)
{
    return static_cast<uint64_t>(Time.tv_sec) * 10'000'000u + static_cast<uint64_t>(Time.tv_nsec) / 100u;
}

// When this process started, in 100-ns units since 1601, from its start in
// clock ticks after boot (/proc/self/stat, field 22); 0 where not known.
uint64_t ProcessStartTime()
{
    char Stat[1024] = {};
    FILE* File = std::fopen("/proc/self/stat", "r");
    if (!File)
        return 0;
    const size_t Length = std::fread(Stat, 1, sizeof Stat - 1, File);
    std::fclose(File);
    Stat[Length] = '\0';
    // The command's name, in parentheses, may hold spaces and parentheses.
    const char* Field = std::strrchr(Stat, ')');
    unsigned long long StartTicks = 0;
    // After the name: state (3) ... start time (22).
    if (!Field ||
        std::sscanf(Field + 1, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %*u %*u %*d %*d %*d %*d %*d %*d %llu",
                    &StartTicks) != 1)
        return 0;
    timespec Boot{}, Now{};
    clock_gettime(CLOCK_BOOTTIME, &Boot);
    clock_gettime(CLOCK_REALTIME, &Now);
    const uint64_t SinceBoot = StartTicks * 10'000'000ull / static_cast<uint64_t>(sysconf(_SC_CLK_TCK));
    return UnixEpochInFileTime + HundredNanosecondsOf(Now) - (HundredNanosecondsOf(Boot) - SinceBoot);
}

} // namespace

BOOL GetProcessTimes(HANDLE Process, LPFILETIME CreationTime, LPFILETIME ExitTime, LPFILETIME KernelTime,
                     LPFILETIME UserTime)
{
    Platform::HandleObject Object;
    if (!Platform::FindHandle(Process, Platform::HandleKind::Process, Object))
        return FALSE;
    rusage Usage{};
    if (Object.ProcessId != getpid() || !CreationTime || !ExitTime || !KernelTime || !UserTime ||
        getrusage(RUSAGE_SELF, &Usage) != 0)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *CreationTime = FileTimeOf(ProcessStartTime());
    *ExitTime = FileTimeOf(0);
    *KernelTime = FileTimeOf(HundredNanosecondsOf(Usage.ru_stime));
    *UserTime = FileTimeOf(HundredNanosecondsOf(Usage.ru_utime));
    return TRUE;
}

BOOL IsDebuggerPresent() { return Platform::ReadStatusNumber(0, "TracerPid") > 0; }

HANDLE OpenProcess(DWORD DesiredAccess, BOOL InheritHandle, DWORD ProcessId)
{
    (void)DesiredAccess;
    if (ProcessId == 0)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    Platform::HandleObject Object;
    Object.Kind = Platform::HandleKind::Process;
    Object.ProcessId = static_cast<pid_t>(ProcessId);
    Object.Fd = Platform::OpenProcessFd(Object.ProcessId);
    return Platform::AddHandle(Object, InheritHandle != FALSE);
}

NTSTATUS NtQueryInformationProcess(HANDLE ProcessHandle, PROCESSINFOCLASS ProcessInformationClass,
                                   PVOID ProcessInformation, ULONG ProcessInformationLength, PULONG ReturnLength)
{
    if (ProcessInformationClass != ProcessBasicInformation)
        return STATUS_INVALID_INFO_CLASS;
    if (ProcessInformationLength != sizeof(PROCESS_BASIC_INFORMATION) || !ProcessInformation)
        return STATUS_INFO_LENGTH_MISMATCH;
    Platform::HandleObject Object;
    if (!Platform::FindHandle(ProcessHandle, Platform::HandleKind::Process, Object))
        return STATUS_INVALID_HANDLE;
    PROCESS_BASIC_INFORMATION Information = {};
    Information.UniqueProcessId = static_cast<ULONG_PTR>(Object.ProcessId);
    // A process whose parent ended has been handed to another (init or a
    // subreaper): the parent is always the current one.
    const long Parent = Object.ProcessId == getpid() ? static_cast<long>(getppid())
                                                     : Platform::ReadStatusNumber(Object.ProcessId, "PPid");
    Information.InheritedFromUniqueProcessId = Parent > 0 ? static_cast<ULONG_PTR>(Parent) : 0;
    *static_cast<PROCESS_BASIC_INFORMATION*>(ProcessInformation) = Information;
    if (ReturnLength)
        *ReturnLength = sizeof Information;
    return 0;
}

HANDLE OpenThread(DWORD DesiredAccess, BOOL InheritHandle, DWORD ThreadId)
{
    (void)DesiredAccess;
    const long ProcessId = ThreadId ? Platform::ReadStatusNumber(static_cast<pid_t>(ThreadId), "Tgid") : -1;
    if (ProcessId <= 0)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    Platform::HandleObject Object;
    Object.Kind = Platform::HandleKind::Thread;
    Object.ProcessId = static_cast<pid_t>(ProcessId);
    Object.ThreadId = static_cast<pid_t>(ThreadId);
    Object.Fd = Platform::OpenThreadFd(Object.ProcessId, Object.ThreadId);
    return Platform::AddHandle(Object, InheritHandle != FALSE);
}

BOOL CreateProcessW(LPCWSTR ApplicationName, LPWSTR CommandLine, LPSECURITY_ATTRIBUTES ProcessAttributes,
                    LPSECURITY_ATTRIBUTES ThreadAttributes, BOOL InheritHandles, DWORD CreationFlags,
                    LPVOID Environment, LPCWSTR CurrentDirectory, LPSTARTUPINFOW StartupInfo,
                    LPPROCESS_INFORMATION ProcessInformation)
{
    if ((!ApplicationName && !CommandLine) || !StartupInfo || !ProcessInformation)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (CreationFlags != 0 || Environment)
    {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }

    int Count = 0;
    LPWSTR* Vector = CommandLineToArgvW(CommandLine ? CommandLine : ApplicationName, &Count);
    if (!Vector)
        return FALSE;
    std::vector<std::string> Arguments;
    for (int Index = 0; Index < Count; ++Index)
        Arguments.push_back(Platform::Utf8FromWide(Vector[Index]));
    LocalFree(Vector);
    std::vector<char*> Pointers;
    for (std::string& Argument : Arguments)
        Pointers.push_back(Argument.data());
    Pointers.push_back(nullptr);
    const std::string Program = ApplicationName ? Platform::Utf8FromWide(ApplicationName) : Arguments[0];

    // A new process starts with no signal blocked, whatever the creating
    // thread blocks.
    posix_spawnattr_t Attributes;
    posix_spawnattr_init(&Attributes);
    sigset_t Empty;
    sigemptyset(&Empty);
    posix_spawnattr_setsigmask(&Attributes, &Empty);
    posix_spawnattr_setflags(&Attributes, POSIX_SPAWN_SETSIGMASK);
    posix_spawn_file_actions_t Actions;
    posix_spawn_file_actions_init(&Actions);
    if (!InheritHandles)
        for (int Fd : Platform::InheritableHandleFds())
            posix_spawn_file_actions_addclose(&Actions, Fd);
    if (CurrentDirectory)
        posix_spawn_file_actions_addchdir_np(&Actions, Platform::Utf8FromWide(CurrentDirectory).c_str());
    pid_t ProcessId = 0;
    // Without an application name the program is searched as the shell does.
    const int Error = ApplicationName
                          ? posix_spawn(&ProcessId, Program.c_str(), &Actions, &Attributes, Pointers.data(), environ)
                          : posix_spawnp(&ProcessId, Program.c_str(), &Actions, &Attributes, Pointers.data(), environ);
    posix_spawn_file_actions_destroy(&Actions);
    posix_spawnattr_destroy(&Attributes);
    if (Error)
    {
        Platform::SetLastErrorFromErrno(Error);
        return FALSE;
    }
    // Where ptrace is limited to ancestors, the child may still debug us.
    prctl(PR_SET_PTRACER, ProcessId, 0, 0, 0);

    Platform::HandleObject Process;
    Process.Kind = Platform::HandleKind::Process;
    Process.ProcessId = ProcessId;
    Process.Fd = Platform::OpenProcessFd(ProcessId);
    Platform::HandleObject Thread = Process;
    Thread.Kind = Platform::HandleKind::Thread;
    Thread.ThreadId = ProcessId;
    Thread.Fd = Platform::OpenThreadFd(ProcessId, ProcessId);
    ProcessInformation->hProcess = Platform::AddHandle(Process, ProcessAttributes && ProcessAttributes->bInheritHandle);
    ProcessInformation->hThread = Platform::AddHandle(Thread, ThreadAttributes && ThreadAttributes->bInheritHandle);
    ProcessInformation->dwProcessId = static_cast<DWORD>(ProcessId);
    ProcessInformation->dwThreadId = static_cast<DWORD>(ProcessId);
    return TRUE;
}

BOOL GetExitCodeProcess(HANDLE Process, LPDWORD ExitCode)
{
    Platform::HandleObject Object;
    if (!Platform::FindHandle(Process, Platform::HandleKind::Process, Object))
        return FALSE;
    if (!ExitCode)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    siginfo_t Info = {};
    // Looks without reaping, so that the answer stays the same.
    if (Object.Fd < 0 || waitid(P_PIDFD, static_cast<id_t>(Object.Fd), &Info, WEXITED | WNOHANG | WNOWAIT) == -1)
    {
        if (Object.Fd >= 0 && errno != ECHILD)
        {
            Platform::SetLastErrorFromErrno(errno);
            return FALSE;
        }
        // Not a child of this process: only whether it still runs is known.
        *ExitCode = STILL_ACTIVE;
        return TRUE;
    }
    if (Info.si_pid == 0)
        *ExitCode = STILL_ACTIVE;
    else if (Info.si_code == CLD_EXITED)
        *ExitCode = static_cast<DWORD>(Info.si_status);
    else
        *ExitCode = 128u + static_cast<DWORD>(Info.si_status);
    return TRUE;
}

DWORD GetModuleFileNameW(HMODULE Module, LPWSTR FileName, DWORD Size)
{
    if (Module)
    {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    const std::wstring Path = Platform::WideFromUtf8(Platform::ExecutablePath());
    if (Size == 0 || !FileName)
    {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (Path.size() >= Size)
    {
        // Cut, terminated, and the full size reported, as the platform does.
        Path.copy(FileName, Size - 1);
        FileName[Size - 1] = L'\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return Size;
    }
    Path.copy(FileName, Path.size());
    FileName[Path.size()] = L'\0';
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(Path.size());
}

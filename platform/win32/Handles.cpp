#include "Win32/Handles.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <unordered_map>

#include "Win32/Errors.h"
#include <handleapi.h>
#include <processthreadsapi.h>
#include <winbase.h>

namespace Platform {

namespace {

constexpr intptr_t CurrentProcessHandle = -1;

struct HandleTable
{
    std::mutex Lock;
    std::unordered_map<int, HandleObject> Objects;
};

HandleTable& Table()
{
    static HandleTable Instance;
    return Instance;
}

int FdFromHandle(HANDLE Handle)
{
    const auto Value = reinterpret_cast<uintptr_t>(Handle);
    if (Value == 0 || (Value & 3) != 0 || Value > (static_cast<uintptr_t>(INT32_MAX) << 2))
        return -1;
    return static_cast<int>(Value >> 2) - 1;
}

// What an inherited descriptor is, from the kernel's name for it.
bool Identify(int Fd, HandleObject& Object)
{
    if (fcntl(Fd, F_GETFD) == -1)
        return false;
    Object = HandleObject{};
    Object.Fd = Fd;
    char Link[64];
    char Target[256] = {};
    std::snprintf(Link, sizeof Link, "/proc/self/fd/%d", Fd);
    if (readlink(Link, Target, sizeof Target - 1) <= 0)
        return true;
    if (std::strcmp(Target, "anon_inode:[eventfd]") == 0)
        Object.Kind = HandleKind::Event; // only manual-reset events are handed to children
    else if (std::strcmp(Target, "anon_inode:[pidfd]") == 0)
    {
        Object.Kind = HandleKind::Process;
        std::snprintf(Link, sizeof Link, "/proc/self/fdinfo/%d", Fd);
        if (FILE* Info = std::fopen(Link, "r"))
        {
            char Line[256];
            while (std::fgets(Line, sizeof Line, Info))
                if (std::sscanf(Line, "Pid: %d", &Object.ProcessId) == 1)
                    break;
            std::fclose(Info);
        }
    }
    return true;
}

} // namespace

HANDLE HandleFromFd(int Fd) { return reinterpret_cast<HANDLE>((static_cast<uintptr_t>(Fd) + 1) << 2); }

HANDLE AddHandle(HandleObject Object, bool Inheritable)
{
    if (Object.Fd < 0)
    {
        SetLastErrorFromErrno(errno);
        return nullptr;
    }
    if (fcntl(Object.Fd, F_SETFD, Inheritable ? 0 : FD_CLOEXEC) == -1)
    {
        const int Error = errno;
        close(Object.Fd);
        SetLastErrorFromErrno(Error);
        return nullptr;
    }
    HandleTable& Handles = Table();
    std::lock_guard Guard(Handles.Lock);
    Handles.Objects[Object.Fd] = Object;
    return HandleFromFd(Object.Fd);
}

bool FindHandle(HANDLE Handle, HandleObject& Object)
{
    const auto Value = reinterpret_cast<intptr_t>(Handle);
    if (Value == CurrentProcessHandle)
    {
        Object = HandleObject{};
        Object.Kind = HandleKind::Process;
        Object.ProcessId = getpid();
        return true;
    }
    const int Fd = FdFromHandle(Handle);
    if (Fd >= 0)
    {
        HandleTable& Handles = Table();
        std::lock_guard Guard(Handles.Lock);
        if (auto Found = Handles.Objects.find(Fd); Found != Handles.Objects.end())
        {
            Object = Found->second;
            return true;
        }
        if (Identify(Fd, Object))
        {
            Handles.Objects[Fd] = Object;
            return true;
        }
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
}

bool FindHandle(HANDLE Handle, HandleKind Kind, HandleObject& Object)
{
    if (!FindHandle(Handle, Object))
        return false;
    if (Object.Kind != Kind)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    return true;
}

std::vector<int> InheritableHandleFds()
{
    std::vector<int> Fds;
    HandleTable& Handles = Table();
    std::lock_guard Guard(Handles.Lock);
    for (const auto& [Fd, Object] : Handles.Objects)
    {
        const int Flags = fcntl(Fd, F_GETFD);
        if (Flags != -1 && !(Flags & FD_CLOEXEC))
            Fds.push_back(Fd);
    }
    return Fds;
}

int OpenProcessFd(pid_t ProcessId) { return static_cast<int>(syscall(SYS_pidfd_open, ProcessId, 0)); }

int OpenThreadFd(pid_t ProcessId, pid_t ThreadId)
{
    char Path[64];
    std::snprintf(Path, sizeof Path, "/proc/%d/task/%d", ProcessId, ThreadId);
    return open(Path, O_PATH | O_DIRECTORY | O_CLOEXEC);
}

} // namespace Platform

using namespace Platform;

HANDLE GetCurrentProcess() { return reinterpret_cast<HANDLE>(CurrentProcessHandle); }

BOOL CloseHandle(HANDLE Handle)
{
    const auto Value = reinterpret_cast<intptr_t>(Handle);
    if (Value == CurrentProcessHandle)
        return TRUE;
    const int Fd = FdFromHandle(Handle);
    if (Fd < 0)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    bool LastOfProcess = false;
    {
        HandleTable& Handles = Table();
        std::lock_guard Guard(Handles.Lock);
        const auto Found = Handles.Objects.find(Fd);
        if (Found != Handles.Objects.end() && Found->second.Kind == HandleKind::Process)
        {
            const pid_t ProcessId = Found->second.ProcessId;
            LastOfProcess = true;
            for (const auto& [OtherFd, Other] : Handles.Objects)
                LastOfProcess = LastOfProcess &&
                                (OtherFd == Fd || Other.Kind != HandleKind::Process || Other.ProcessId != ProcessId);
        }
        Handles.Objects.erase(Fd);
    }
    // The last handle of a child that has ended lets it go, as the platform
    // then frees the process: no zombie stays behind.
    if (LastOfProcess)
    {
        siginfo_t Info = {};
        waitid(P_PIDFD, static_cast<id_t>(Fd), &Info, WEXITED | WNOHANG);
    }
    if (close(Fd) == -1 && errno != EINTR)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

BOOL DuplicateHandle(HANDLE SourceProcess, HANDLE SourceHandle, HANDLE TargetProcess, LPHANDLE TargetHandle,
                     DWORD DesiredAccess, BOOL InheritHandle, DWORD Options)
{
    (void)DesiredAccess;
    HandleObject Source, Target;
    if (!TargetHandle || !FindHandle(SourceProcess, Source) || !FindHandle(TargetProcess, Target))
    {
        if (!TargetHandle)
            SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (Source.Kind != HandleKind::Process || Target.Kind != HandleKind::Process || Source.ProcessId != getpid() ||
        Target.ProcessId != getpid())
    {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    HandleObject Object;
    if (!FindHandle(SourceHandle, Object))
        return FALSE;
    // A pseudo-handle becomes a real one.
    if (Object.Fd < 0)
        Object.Fd = Object.Kind == HandleKind::Process ? OpenProcessFd(Object.ProcessId)
                                                       : OpenThreadFd(Object.ProcessId, Object.ThreadId);
    else
        Object.Fd = fcntl(Object.Fd, F_DUPFD_CLOEXEC, 0);
    const HANDLE Duplicate = AddHandle(Object, InheritHandle != FALSE);
    if (!Duplicate)
        return FALSE;
    if (Options & DUPLICATE_CLOSE_SOURCE)
        CloseHandle(SourceHandle);
    *TargetHandle = Duplicate;
    return TRUE;
}

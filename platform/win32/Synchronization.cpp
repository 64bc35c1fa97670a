// Events (eventfd) and waits (poll) on events and processes (pidfd).

#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "Win32/Errors.h"
#include "Win32/Handles.h"
#include <synchapi.h>
#include <winbase.h>

namespace {

bool FindEvent(HANDLE Handle, Platform::HandleObject& Object)
{
    return Platform::FindHandle(Handle, Platform::HandleKind::Event, Object);
}

} // namespace

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES EventAttributes, BOOL ManualReset, BOOL InitialState, LPCWSTR Name)
{
    if (Name)
    {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    // Signalled while the counter is above zero; waits do not take it down
    // unless the event resets itself.
    Platform::HandleObject Object;
    Object.Kind = Platform::HandleKind::Event;
    Object.ManualReset = ManualReset != FALSE;
    Object.Fd = eventfd(InitialState ? 1 : 0, EFD_NONBLOCK | EFD_CLOEXEC);
    return Platform::AddHandle(Object, EventAttributes && EventAttributes->bInheritHandle);
}

BOOL SetEvent(HANDLE Event)
{
    Platform::HandleObject Object;
    if (!FindEvent(Event, Object))
        return FALSE;
    const uint64_t One = 1;
    // A full counter (EAGAIN) is signalled already.
    if (write(Object.Fd, &One, sizeof One) == -1 && errno != EAGAIN)
    {
        Platform::SetLastErrorFromErrno(errno);
        return FALSE;
    }
    return TRUE;
}

BOOL ResetEvent(HANDLE Event)
{
    Platform::HandleObject Object;
    if (!FindEvent(Event, Object))
        return FALSE;
    uint64_t Value;
    if (read(Object.Fd, &Value, sizeof Value) == -1 && errno != EAGAIN)
    {
        Platform::SetLastErrorFromErrno(errno);
        return FALSE;
    }
    return TRUE;
}

DWORD WaitForMultipleObjects(DWORD Count, const HANDLE* Handles, BOOL WaitAll, DWORD Milliseconds)
{
    if (Count == 0 || Count > MAXIMUM_WAIT_OBJECTS || !Handles)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    if (WaitAll && Count > 1)
    {
        SetLastError(ERROR_NOT_SUPPORTED);
        return WAIT_FAILED;
    }
    pollfd Polls[MAXIMUM_WAIT_OBJECTS];
    Platform::HandleObject Objects[MAXIMUM_WAIT_OBJECTS];
    for (DWORD Index = 0; Index < Count; ++Index)
    {
        if (!Platform::FindHandle(Handles[Index], Objects[Index]))
            return WAIT_FAILED;
        const auto Kind = Objects[Index].Kind;
        if ((Kind != Platform::HandleKind::Event && Kind != Platform::HandleKind::Process) || Objects[Index].Fd < 0)
        {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        Polls[Index] = {Objects[Index].Fd, POLLIN, 0};
    }

    const ULONGLONG Start = GetTickCount64();
    for (;;)
    {
        int Timeout = -1;
        if (Milliseconds != INFINITE)
        {
            const ULONGLONG Elapsed = GetTickCount64() - Start;
            Timeout = Elapsed >= Milliseconds ? 0 : static_cast<int>(Milliseconds - Elapsed);
        }
        const int Ready = poll(Polls, Count, Timeout);
        if (Ready == -1)
        {
            if (errno == EINTR)
                continue;
            Platform::SetLastErrorFromErrno(errno);
            return WAIT_FAILED;
        }
        if (Ready == 0)
            return WAIT_TIMEOUT;
        // The lowest index wins, as on the platform.
        for (DWORD Index = 0; Index < Count; ++Index)
        {
            if (!(Polls[Index].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            if (Objects[Index].Kind == Platform::HandleKind::Event && !Objects[Index].ManualReset)
            {
                uint64_t Value;
                // Another waiter took it first: keep waiting.
                if (read(Objects[Index].Fd, &Value, sizeof Value) == -1)
                    continue;
            }
            return WAIT_OBJECT_0 + Index;
        }
    }
}

DWORD WaitForSingleObject(HANDLE Handle, DWORD Milliseconds)
{
    return WaitForMultipleObjects(1, &Handle, FALSE, Milliseconds);
}

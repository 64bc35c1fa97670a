// The console: standard handles, the terminal as the console's mode, and
// console control events on signals. SIGINT, SIGHUP and SIGTERM are caught
// while a handler is registered; the signal handler only records the signal
// and wakes a dispatching thread, which calls the handlers as the console
// would on a thread of its own.

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <mutex>
#include <pthread.h>
#include <semaphore.h>
#include <sys/ioctl.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

#include "Win32/Handles.h"
#include <consoleapi.h>
#include <processenv.h>
#include <processthreadsapi.h>
#include <winbase.h>
#include <winnt.h>

namespace {

struct ControlSignal
{
    int Signal;
    DWORD CtrlType;
};

constexpr ControlSignal ControlSignals[] = {
    {SIGINT, CTRL_C_EVENT},
    {SIGHUP, CTRL_CLOSE_EVENT},
    {SIGTERM, CTRL_SHUTDOWN_EVENT},
};
constexpr size_t ControlSignalCount = std::size(ControlSignals);

// Written by the signal handler: the signal of the event being handled since
// the handlers were registered (0: none yet), and the last one ever.
std::atomic<int> DeliveredSignal{0};
std::atomic<int> LastSignal{0};
sem_t Wakeup;

struct Registry
{
    std::mutex Lock;
    std::vector<PHANDLER_ROUTINE> Handlers; // the newest last
    struct sigaction Original[ControlSignalCount] = {};
    bool Caught[ControlSignalCount] = {};
    bool DispatcherStarted = false;
};

Registry& TheRegistry()
{
    // Never destroyed: the dispatcher may run while the process exits.
    static Registry* Instance = new Registry;
    return *Instance;
}

void RestoreDefaultAndRaise(int Signal)
{
    struct sigaction Default = {};
    Default.sa_handler = SIG_DFL;
    sigemptyset(&Default.sa_mask);
    sigaction(Signal, &Default, nullptr);
    sigset_t Set;
    sigemptyset(&Set);
    sigaddset(&Set, Signal);
    pthread_sigmask(SIG_UNBLOCK, &Set, nullptr);
    raise(Signal);
}

// Async-signal-safe: atomics, sem_post, sigaction and raise only.
void OnControlSignal(int Signal)
{
    const int SavedErrno = errno;
    int None = 0;
    if (!DeliveredSignal.compare_exchange_strong(None, Signal))
    {
        // A second event while the first is handled: end at once. The signal
        // is blocked in its own handler, so it lands as soon as this returns.
        struct sigaction Default = {};
        Default.sa_handler = SIG_DFL;
        sigemptyset(&Default.sa_mask);
        sigaction(Signal, &Default, nullptr);
        raise(Signal);
    }
    else
    {
        LastSignal.store(Signal);
        sem_post(&Wakeup);
    }
    errno = SavedErrno;
}

DWORD CtrlTypeOf(int Signal)
{
    for (const ControlSignal& Item : ControlSignals)
        if (Item.Signal == Signal)
            return Item.CtrlType;
    return CTRL_C_EVENT;
}

void Dispatch()
{
    for (;;)
    {
        while (sem_wait(&Wakeup) != 0)
            ;
        const int Signal = DeliveredSignal.load();
        if (Signal == 0)
            continue;
        Registry& Instance = TheRegistry();
        bool Handled = false;
        {
            std::lock_guard Guard(Instance.Lock);
            for (auto Handler = Instance.Handlers.rbegin(); !Handled && Handler != Instance.Handlers.rend(); ++Handler)
                Handled = (*Handler)(CtrlTypeOf(Signal)) != FALSE;
        }
        // Nobody took it: the event ends the process, as it would have
        // without handlers.
        if (!Handled)
            RestoreDefaultAndRaise(Signal);
    }
}

// Under the registry's lock.
void CatchSignals(Registry& Instance)
{
    DeliveredSignal.store(0);
    for (size_t Index = 0; Index < ControlSignalCount; ++Index)
    {
        const int Signal = ControlSignals[Index].Signal;
        sigaction(Signal, nullptr, &Instance.Original[Index]);
        // What the parent chose to ignore (nohup, a background job) stays ignored.
        if (Instance.Original[Index].sa_handler == SIG_IGN)
            continue;
        struct sigaction Action = {};
        Action.sa_handler = OnControlSignal;
        Action.sa_flags = SA_RESTART;
        sigemptyset(&Action.sa_mask);
        Instance.Caught[Index] = sigaction(Signal, &Action, nullptr) == 0;
    }
}

void ReleaseSignals(Registry& Instance)
{
    for (size_t Index = 0; Index < ControlSignalCount; ++Index)
        if (std::exchange(Instance.Caught[Index], false))
            sigaction(ControlSignals[Index].Signal, &Instance.Original[Index], nullptr);
}

} // namespace

HANDLE GetStdHandle(DWORD StdHandle)
{
    switch (StdHandle)
    {
    case STD_INPUT_HANDLE: return Platform::HandleFromFd(STDIN_FILENO);
    case STD_OUTPUT_HANDLE: return Platform::HandleFromFd(STDOUT_FILENO);
    case STD_ERROR_HANDLE: return Platform::HandleFromFd(STDERR_FILENO);
    default: SetLastError(ERROR_INVALID_PARAMETER); return INVALID_HANDLE_VALUE;
    }
}

BOOL GetConsoleMode(HANDLE ConsoleHandle, LPDWORD Mode)
{
    Platform::HandleObject Object;
    if (!Mode || !Platform::FindHandle(ConsoleHandle, Platform::HandleKind::File, Object) || !isatty(Object.Fd))
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *Mode = ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING;
    return TRUE;
}

BOOL GetConsoleScreenBufferInfo(HANDLE ConsoleOutput, PCONSOLE_SCREEN_BUFFER_INFO ConsoleScreenBufferInfo)
{
    // Asked each time: the terminal may have been resized (SIGWINCH) since.
    Platform::HandleObject Object;
    winsize Size{};
    if (!ConsoleScreenBufferInfo || !Platform::FindHandle(ConsoleOutput, Platform::HandleKind::File, Object) ||
        ioctl(Object.Fd, TIOCGWINSZ, &Size) != 0 || Size.ws_col == 0)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const auto Columns = static_cast<SHORT>(std::min<unsigned>(Size.ws_col, INT16_MAX));
    const auto Rows = static_cast<SHORT>(std::clamp<unsigned>(Size.ws_row, 1, INT16_MAX));
    *ConsoleScreenBufferInfo = {};
    ConsoleScreenBufferInfo->dwSize = {Columns, Rows};
    ConsoleScreenBufferInfo->srWindow = {0, 0, static_cast<SHORT>(Columns - 1), static_cast<SHORT>(Rows - 1)};
    ConsoleScreenBufferInfo->dwMaximumWindowSize = {Columns, Rows};
    return TRUE;
}

BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE HandlerRoutine, BOOL Add)
{
    if (!HandlerRoutine)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Registry& Instance = TheRegistry();
    std::lock_guard Guard(Instance.Lock);
    if (Add)
    {
        if (!Instance.DispatcherStarted)
        {
            sem_init(&Wakeup, 0, 0);
            try
            {
                std::thread(Dispatch).detach();
            }
            catch (const std::system_error&)
            {
                SetLastError(ERROR_NOT_ENOUGH_MEMORY);
                return FALSE;
            }
            Instance.DispatcherStarted = true;
        }
        if (Instance.Handlers.empty())
            CatchSignals(Instance);
        Instance.Handlers.push_back(HandlerRoutine);
        return TRUE;
    }
    for (auto Handler = Instance.Handlers.rbegin(); Handler != Instance.Handlers.rend(); ++Handler)
        if (*Handler == HandlerRoutine)
        {
            Instance.Handlers.erase(std::next(Handler).base());
            if (Instance.Handlers.empty())
                ReleaseSignals(Instance);
            return TRUE;
        }
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

void ExitProcess(UINT ExitCode)
{
    if (ExitCode == STATUS_CONTROL_C_EXIT)
    {
        const int Signal = LastSignal.load() ? LastSignal.load() : SIGINT;
        std::fflush(nullptr);
        RestoreDefaultAndRaise(Signal);
        std::_Exit(128 + Signal);
    }
    std::exit(static_cast<int>(ExitCode));
}

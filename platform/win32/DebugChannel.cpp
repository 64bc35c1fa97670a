// The debugger channel: an exception record travels to a tracing debugger on
// a real-time signal raised at the calling thread. The process ignores the
// signal, so the kernel drops it at once when nobody traces; a tracer sees the
// thread stop with it, reads the record's address from the signal value and
// the record from the stopped thread's stack, and resumes without it.

#include <atomic>
#include <csignal>
#include <cstring>
#include <cwchar>
#include <list>
#include <mutex>
#include <sys/syscall.h>
#include <unistd.h>

#include <debugapi.h>

namespace Platform {

int DebugChannelSignal() { return SIGRTMIN + 7; }

namespace {

void IgnoreDebugChannelSignal()
{
    struct sigaction Action = {};
    Action.sa_handler = SIG_IGN;
    sigemptyset(&Action.sa_mask);
    sigaction(DebugChannelSignal(), &Action, nullptr);
}

struct VectoredHandlers
{
    std::mutex Lock;
    std::list<PVECTORED_EXCEPTION_HANDLER> Handlers;
    std::atomic<size_t> Count{0};
};

VectoredHandlers& Handlers()
{
    static VectoredHandlers Instance;
    return Instance;
}

// Offers the record to the in-process handlers until one continues it.
void CallVectoredHandlers(EXCEPTION_RECORD& Record)
{
    VectoredHandlers& Registry = Handlers();
    if (Registry.Count.load(std::memory_order_acquire) == 0)
        return;
    EXCEPTION_POINTERS Pointers = {&Record, nullptr};
    std::lock_guard Guard(Registry.Lock);
    for (PVECTORED_EXCEPTION_HANDLER Handler : Registry.Handlers)
        if (Handler(&Pointers) == EXCEPTION_CONTINUE_EXECUTION)
            break;
}

} // namespace

} // namespace Platform

PVOID AddVectoredExceptionHandler(ULONG First, PVECTORED_EXCEPTION_HANDLER Handler)
{
    if (!Handler)
        return nullptr;
    auto& Registry = Platform::Handlers();
    std::lock_guard Guard(Registry.Lock);
    auto Position = Registry.Handlers.insert(First ? Registry.Handlers.begin() : Registry.Handlers.end(), Handler);
    Registry.Count.fetch_add(1, std::memory_order_release);
    return &*Position;
}

ULONG RemoveVectoredExceptionHandler(PVOID Handle)
{
    auto& Registry = Platform::Handlers();
    std::lock_guard Guard(Registry.Lock);
    for (auto Position = Registry.Handlers.begin(); Position != Registry.Handlers.end(); ++Position)
        if (&*Position == Handle)
        {
            Registry.Handlers.erase(Position);
            Registry.Count.fetch_sub(1, std::memory_order_release);
            return 1;
        }
    return 0;
}

void RaiseException(DWORD ExceptionCode, DWORD ExceptionFlags, DWORD NumberOfArguments, const ULONG_PTR* Arguments)
{
    static const bool Ignored = (Platform::IgnoreDebugChannelSignal(), true);
    (void)Ignored;

    EXCEPTION_RECORD Record = {};
    Record.ExceptionCode = ExceptionCode;
    Record.ExceptionFlags = ExceptionFlags;
    Record.ExceptionAddress = __builtin_return_address(0);
    Record.NumberParameters =
        NumberOfArguments < EXCEPTION_MAXIMUM_PARAMETERS ? NumberOfArguments : EXCEPTION_MAXIMUM_PARAMETERS;
    for (DWORD Index = 0; Arguments && Index < Record.NumberParameters; ++Index)
        Record.ExceptionInformation[Index] = Arguments[Index];

    // A blocked signal would stay pending past this frame and reach a tracer
    // with a stale record: make sure this thread takes it now.
    const int Signal = Platform::DebugChannelSignal();
    sigset_t Set;
    sigemptyset(&Set);
    sigaddset(&Set, Signal);
    pthread_sigmask(SIG_UNBLOCK, &Set, nullptr);

    siginfo_t Info = {};
    Info.si_signo = Signal;
    Info.si_code = SI_QUEUE;
    Info.si_pid = getpid();
    Info.si_uid = getuid();
    Info.si_value.sival_ptr = &Record;
    syscall(SYS_rt_tgsigqueueinfo, getpid(), gettid(), Signal, &Info);
    // Keep the record alive and in memory until the signal has been taken.
    asm volatile("" : : "r"(&Record) : "memory");

    Platform::CallVectoredHandlers(Record);
}

void OutputDebugStringW(LPCWSTR Text)
{
    if (!Text)
        Text = L"";
    const ULONG_PTR Arguments[2] = {wcslen(Text) + 1, reinterpret_cast<ULONG_PTR>(Text)};
    RaiseException(DBG_PRINTEXCEPTION_WIDE_C, 0, 2, Arguments);
}

void OutputDebugStringA(LPCSTR Text)
{
    if (!Text)
        Text = "";
    const ULONG_PTR Arguments[2] = {strlen(Text) + 1, reinterpret_cast<ULONG_PTR>(Text)};
    RaiseException(DBG_PRINTEXCEPTION_C, 0, 2, Arguments);
}

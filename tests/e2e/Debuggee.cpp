// A test program that runs the self-debugging facility like the tool does
// and then does on purpose what the tool should never do: each argument that
// is no option names one deed, done in order.
//   fault         writes through a null pointer (the process dies)
//   breakpoint    executes int3 (only under the debugger)
//   thread-name   raises the thread-naming exception
//   throw-long    throws and catches the HRESULT 0x80004005
//   thread-throw  throws and catches 0x80070005 on a second thread
//   output        writes debug strings to trim and cut
//   rethrow       throws 0x80004005 and rethrows it with a plain throw, then
//                 0x8007000E and rethrows it with std::rethrow_exception
//   overflow      recurses until the stack overflows (the process dies)
//   threads       starts and joins 5,000 short-lived threads
//   huge          maps 64 GiB and touches one page in each GiB of it
//   ticks         prints "tick N" every 20 ms, 100 times
//   wait          waits (at most 20 s) for a file named "go" to appear
// With OSTREL_TEST_HANG_CHILD set, the debugging child sleeps a minute
// instead of attaching; with OSTREL_TEST_REMOVE_SELF set, the program removes
// its own executable before it starts the debugging child.

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>

#include "Arguments.h"
#include "diagnostics/ParentProcessDebug.h"

namespace {

__attribute__((noinline)) void Fault()
{
    // Written as an instruction: a null store in C++ is one the compiler may drop.
    __asm__ volatile("movl $1, 0" ::: "memory");
}

void ThrowAndCatch(long Value)
{
    try
    {
        throw Value;
    }
    catch (long)
    {}
}

void Rethrow()
{
    try
    {
        try
        {
            throw static_cast<long>(static_cast<HRESULT>(0x80004005));
        }
        catch (long)
        {
            throw;
        }
    }
    catch (long)
    {}
    std::exception_ptr Pointer;
    try
    {
        throw static_cast<long>(static_cast<HRESULT>(0x8007000E));
    }
    catch (long)
    {
        Pointer = std::current_exception();
    }
    try
    {
        std::rethrow_exception(Pointer);
    }
    catch (long)
    {}
}

void MapHugeRegion()
{
    constexpr size_t GiB = size_t(1) << 30;
    auto* Huge = static_cast<char*>(
        mmap(nullptr, 64 * GiB, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0));
    if (Huge == MAP_FAILED)
    {
        std::perror("mmap");
        std::exit(2);
    }
    for (size_t Offset = 0; Offset < 64 * GiB; Offset += GiB)
        Huge[Offset] = 1;
}

void WaitForGo()
{
    for (int Round = 0; Round < 2000 && access("go", F_OK) != 0; ++Round)
        usleep(10000);
}

void WriteDebugStrings()
{
    OutputDebugStringW(L"Ends with a full stop.\r\n");
    OutputDebugStringW(L" .\r\n\t");
    OutputDebugStringW(L"Inner. dots. stay");
    OutputDebugStringW((std::wstring(4095, L'x') + L"cut").c_str());
    OutputDebugStringA("narrow text \xC3\xA9\n");
}

} // namespace

// A frame larger than the stack's guard gap below it: the overflow faults
// with the stack pointer below the stack's mapping. Outside the anonymous
// namespace, whose functions lldb shows without their names where there is
// debug information: the test finds the frames by this name.
static volatile int RecursionLimit = INT_MAX;
__attribute__((noinline)) static int Recurse(int Depth)
{
    volatile char Frame[16384];
    Frame[Depth % sizeof Frame] = static_cast<char>(Depth);
    return Depth == RecursionLimit ? 0 : Recurse(Depth + 1) + Frame[Depth % sizeof Frame];
}

int main()
{
    Arguments Arguments;
    int Count = 0;
    if (LPWSTR* Vector = CommandLineToArgvW(GetCommandLineW(), &Count))
    {
        for (int Index = 0; Index < Count; ++Index)
            Arguments.emplace_back(Vector[Index]);
        LocalFree(Vector);
    }
    if (std::getenv("OSTREL_TEST_HANG_CHILD"))
        for (const std::wstring& Argument : Arguments)
            if (Argument == L"-ParentProcessDebug")
            {
                sleep(60);
                return 0;
            }
    try
    {
        if (ParentProcessDebug::RunChild(Arguments, ConfigureParentProcessDebug))
            return 0;
    }
    catch (long Result)
    {
        std::fprintf(stderr, "debuggee: failed with 0x%08X\n", static_cast<unsigned>(Result));
        return 1;
    }
    if (std::getenv("OSTREL_TEST_REMOVE_SELF"))
    {
        char Path[4096] = {};
        if (readlink("/proc/self/exe", Path, sizeof Path - 1) > 0)
            unlink(Path);
    }
    try
    {
        ParentProcessDebug::Enable(Arguments);
    }
    catch (long Result)
    {
        std::fprintf(stderr, "debuggee: failed with 0x%08X\n", static_cast<unsigned>(Result));
        return 1;
    }

    std::wstring Name, Value;
    for (size_t Index = 1; Index < Arguments.size(); ++Index)
    {
        const std::wstring& Deed = Arguments[Index];
        if (ParseOption(Deed, Name, Value))
            continue;
        if (Deed == L"fault")
            Fault();
        else if (Deed == L"breakpoint")
            __asm__ volatile("int3");
        else if (Deed == L"thread-name")
        {
            const ULONG_PTR Information[4] = {0x1000, 0, 0, 0};
            RaiseException(0x406D1388, 0, 4, Information);
        }
        else if (Deed == L"throw-long")
            ThrowAndCatch(static_cast<long>(static_cast<HRESULT>(0x80004005)));
        else if (Deed == L"thread-throw")
            std::thread([] { ThrowAndCatch(static_cast<long>(static_cast<HRESULT>(0x80070005))); }).join();
        else if (Deed == L"output")
            WriteDebugStrings();
        else if (Deed == L"rethrow")
            Rethrow();
        else if (Deed == L"overflow")
            Recurse(0);
        else if (Deed == L"threads")
            for (int Thread = 0; Thread < 5000; ++Thread)
                std::thread([] {}).join();
        else if (Deed == L"huge")
            MapHugeRegion();
        else if (Deed == L"ticks")
            for (int Tick = 1; Tick <= 100; ++Tick)
            {
                std::printf("tick %d\n", Tick);
                std::fflush(stdout);
                usleep(20000);
            }
        else if (Deed == L"wait")
            WaitForGo();
    }
    std::printf("done\n");
    return 0;
}

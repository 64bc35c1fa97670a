// A test program that runs the self-debugging facility like the tool does
// and then does on purpose what the tool should never do: each argument that
// is no option names one deed, done in order.
//   fault         writes through a null pointer (the process dies)
//   breakpoint    executes int3 (only under the debugger)
//   thread-name   raises the thread-naming exception
//   throw-long    throws and catches the HRESULT 0x80004005
//   thread-throw  throws and catches 0x80070005 on a second thread
//   output        writes debug strings to trim and cut
// With OSTREL_TEST_HANG_CHILD set, the debugging child sleeps a minute
// instead of attaching.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <unistd.h>

#include "Module/Module.h"
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
    {
    }
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
    ParentProcessDebug::Enable(Arguments);

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
    }
    std::printf("done\n");
    return 0;
}

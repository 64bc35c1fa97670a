// The debugging functions on a forked child: the debug events, handles and
// last errors made of the back end's events, and the signals the debugger
// leaves to its debuggee while it debugs.

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <windows.h>

#include "support/CommandedChild.h"
#include "support/Deadline.h"

namespace {

void PrepareChild(int)
{
    const rlimit NoCore = {0, 0};
    setrlimit(RLIMIT_CORE, &NoCore);
}

void Serve(char Command)
{
    if (Command == 'o')
        OutputDebugStringA("hello");
    else if (Command == 'a')
        abort();
}

DEBUG_EVENT Next()
{
    DEBUG_EVENT Event = {};
    EXPECT_TRUE(WaitForDebugEventEx(&Event, 10000)) << GetLastError();
    return Event;
}

bool Ignored(int Signal)
{
    struct sigaction Action = {};
    sigaction(Signal, nullptr, &Action);
    return Action.sa_handler == SIG_IGN;
}

} // namespace

TEST(DebugEvents, OfAChildFromAttachingToItsEnd)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "attaching a debugger may need root; not root here";
    Deadline Bound(std::chrono::seconds(30), "the debugged child ended");
    Bound.Start();
    CommandedChild Debuggee(Serve, PrepareChild);
    const auto Id = static_cast<DWORD>(Debuggee.Id());
    const bool InterruptIgnored = Ignored(SIGINT);
    ASSERT_TRUE(DebugActiveProcess(Id)) << GetLastError();
    EXPECT_FALSE(DebugActiveProcess(Id));
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    EXPECT_TRUE(Ignored(SIGINT));

    DEBUG_EVENT Event = Next();
    ASSERT_EQ(Event.dwDebugEventCode, CREATE_PROCESS_DEBUG_EVENT);
    EXPECT_EQ(Event.dwProcessId, Id);
    EXPECT_EQ(Event.dwThreadId, Id);
    const HANDLE Process = Event.u.CreateProcessInfo.hProcess;
    EXPECT_NE(Process, nullptr);
    EXPECT_NE(Event.u.CreateProcessInfo.hThread, nullptr);
    EXPECT_NE(Event.u.CreateProcessInfo.lpBaseOfImage, nullptr);
    EXPECT_FALSE(ContinueDebugEvent(Id, Id, 0x1234));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    ASSERT_TRUE(ContinueDebugEvent(Id, Id, DBG_CONTINUE));
    Event = Next();
    EXPECT_EQ(Event.dwDebugEventCode, EXCEPTION_DEBUG_EVENT);
    EXPECT_EQ(Event.u.Exception.ExceptionRecord.ExceptionCode, EXCEPTION_BREAKPOINT);
    ASSERT_TRUE(ContinueDebugEvent(Id, Id, DBG_CONTINUE));
    EXPECT_FALSE(WaitForDebugEventEx(&Event, 0));
    EXPECT_EQ(GetLastError(), ERROR_SEM_TIMEOUT);

    // The debug string, read from the child's memory.
    ASSERT_TRUE(Debuggee.Send('o'));
    Event = Next();
    ASSERT_EQ(Event.dwDebugEventCode, OUTPUT_DEBUG_STRING_EVENT);
    EXPECT_FALSE(Event.u.DebugString.fUnicode);
    ASSERT_EQ(Event.u.DebugString.nDebugStringLength, 6u);
    std::string Text(6, '\0');
    EXPECT_TRUE(ReadProcessMemory(Process, Event.u.DebugString.lpDebugStringData, Text.data(), Text.size(), nullptr));
    EXPECT_EQ(Text, std::string("hello", 6));
    ASSERT_TRUE(ContinueDebugEvent(Id, Event.dwThreadId, DBG_CONTINUE));

    // abort(): first chance, last chance, and the end with 128 and the signal.
    ASSERT_TRUE(Debuggee.Send('a'));
    Event = Next();
    ASSERT_EQ(Event.dwDebugEventCode, EXCEPTION_DEBUG_EVENT);
    EXPECT_EQ(Event.u.Exception.ExceptionRecord.ExceptionCode, STATUS_STACK_BUFFER_OVERRUN);
    EXPECT_EQ(Event.u.Exception.dwFirstChance, 1u);
    EXPECT_NE(Event.u.Exception.ExceptionRecord.ExceptionAddress, nullptr);
    ASSERT_TRUE(ContinueDebugEvent(Id, Event.dwThreadId, DBG_EXCEPTION_NOT_HANDLED));
    Event = Next();
    ASSERT_EQ(Event.dwDebugEventCode, EXCEPTION_DEBUG_EVENT);
    EXPECT_EQ(Event.u.Exception.dwFirstChance, 0u);
    ASSERT_TRUE(ContinueDebugEvent(Id, Event.dwThreadId, DBG_EXCEPTION_NOT_HANDLED));
    Event = Next();
    ASSERT_EQ(Event.dwDebugEventCode, EXIT_PROCESS_DEBUG_EVENT);
    EXPECT_EQ(Event.u.ExitProcess.dwExitCode, 128u + SIGABRT);
    ASSERT_TRUE(ContinueDebugEvent(Id, Event.dwThreadId, DBG_CONTINUE));

    EXPECT_TRUE(DebugActiveProcessStop(Id));
    EXPECT_EQ(Ignored(SIGINT), InterruptIgnored);
}

// The signals are ignored before the attach and given back where it fails.
TEST(DebugEvents, AFailedAttachLeavesTheSignalsAsTheyWere)
{
    const bool InterruptIgnored = Ignored(SIGINT), TerminateIgnored = Ignored(SIGTERM);
    // A process id that no process has: above the kernel's largest.
    EXPECT_FALSE(DebugActiveProcess(0x7FFFFFFF));
    EXPECT_EQ(Ignored(SIGINT), InterruptIgnored);
    EXPECT_EQ(Ignored(SIGTERM), TerminateIgnored);
}

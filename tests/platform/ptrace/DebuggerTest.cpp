// The ptrace debugger on forked children that do what they are told through
// a pipe: attaching, threads, signals, group stops, the channel, detaching,
// and two debuggers side by side.

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/CommandedChild.h"
#include "support/Deadline.h"
#include "Ptrace/Debugger.h"
#include "Ptrace/ProcessReader.h"

namespace {

using namespace std::chrono_literals;

const int ChannelSignal = SIGRTMIN + 3;
int ReplyFd = -1; // the child's end

void* ExitAtOnce(void*) { return nullptr; }
void* WaitForever(void*)
{
    for (;;)
        pause();
}
void ReplyFromHandler(int) { (void)!write(ReplyFd, "u", 1); }

void PrepareChild(int Replies)
{
    ReplyFd = Replies;
    signal(SIGUSR1, ReplyFromHandler);
    signal(ChannelSignal, SIG_IGN);
    const rlimit NoCore = {0, 0};
    setrlimit(RLIMIT_CORE, &NoCore);
}

void Serve(char Command)
{
    pthread_t Thread;
    switch (Command)
    {
    case 't': // a thread that ends at once
        pthread_create(&Thread, nullptr, ExitAtOnce, nullptr);
        pthread_join(Thread, nullptr);
        break;
    case 'T': // a thread that lives on
        pthread_create(&Thread, nullptr, WaitForever, nullptr);
        break;
    case 'c': // a record on the channel
    {
        sigval Value = {};
        Value.sival_ptr = reinterpret_cast<void*>(0x1234);
        sigqueue(getpid(), ChannelSignal, Value);
        break;
    }
    case 'a': abort();
    case 'x': _exit(7);
    default: break;
    }
}

class Child : public CommandedChild
{
public:
    Child() : CommandedChild(Serve, PrepareChild) {}
};

// The next event, continued unless asked not to.
Ptrace::Event Next(Ptrace::Debugger& Debugger, bool Continue = true)
{
    Ptrace::Event Event;
    EXPECT_EQ(Debugger.Wait(Event, 10s), 0);
    if (Continue)
    {
        EXPECT_EQ(Debugger.Continue(Event.ProcessId, Event.ThreadId, false), 0);
    }
    return Event;
}

// Attaches and continues the events of attaching.
void Attach(Ptrace::Debugger& Debugger, const Child& Debuggee)
{
    ASSERT_EQ(Debugger.Attach(Debuggee.Id()), 0);
    ASSERT_EQ(Next(Debugger).Kind, Ptrace::EventKind::Attached);
    ASSERT_EQ(Next(Debugger).Kind, Ptrace::EventKind::AttachStop);
}

// Lets the debuggee run, reporting nothing, until it replies.
void RunUntilReply(Ptrace::Debugger& Debugger, const Child& Debuggee)
{
    Ptrace::Event Event;
    while (!Debuggee.Replied())
        ASSERT_EQ(Debugger.Wait(Event, 10ms), ETIMEDOUT);
}

class PtraceDebugger : public testing::Test
{
protected:
    void SetUp() override
    {
        if (geteuid() != 0)
            GTEST_SKIP() << "attaching a debugger may need root; not root here";
        m_Bound.Start();
    }
    Deadline m_Bound{30s, "the debugger test ended"};
};

} // namespace

TEST_F(PtraceDebugger, AttachReportsTheThreadsAndDetachLetsGo)
{
    Child Debuggee;
    Debuggee.Send('T');
    ASSERT_EQ(Debuggee.Reply(), 'T');
    Ptrace::Debugger Debugger;
    ASSERT_EQ(Debugger.Attach(Debuggee.Id()), 0);
    EXPECT_EQ(Debugger.Attach(Debuggee.Id()), EBUSY);
    const Ptrace::Event Attached = Next(Debugger);
    EXPECT_EQ(Attached.Kind, Ptrace::EventKind::Attached);
    EXPECT_EQ(Attached.ThreadId, Debuggee.Id());
    const Ptrace::Event Thread = Next(Debugger);
    EXPECT_EQ(Thread.Kind, Ptrace::EventKind::ThreadCreated);
    EXPECT_NE(Thread.ThreadId, Debuggee.Id());
    EXPECT_EQ(Platform::ReadStatusNumber(Thread.ThreadId, "Tgid"), Debuggee.Id());
    // At the end of attaching every thread stands still.
    const Ptrace::Event Stop = Next(Debugger, false);
    EXPECT_EQ(Stop.Kind, Ptrace::EventKind::AttachStop);
    EXPECT_EQ(Debugger.StoppedThreads().size(), 2u);
    Ptrace::Registers Registers;
    EXPECT_EQ(Debugger.ReadRegisters(Thread.ThreadId, Registers), 0);
    EXPECT_NE(Registers.General.rip, 0u);
    EXPECT_EQ(Debugger.ReadRegisters(getpid(), Registers), EBADF);
    Ptrace::Event Ignored;
    EXPECT_EQ(Debugger.Wait(Ignored, 0ms), EINVAL); // not continued yet
    EXPECT_EQ(Debugger.Continue(Debuggee.Id(), Thread.ThreadId, false), EINVAL);
    EXPECT_EQ(Debugger.Continue(Debuggee.Id(), Debuggee.Id(), false), 0);

    EXPECT_EQ(Debugger.Detach(getpid()), EINVAL);
    EXPECT_EQ(Debugger.Detach(Debuggee.Id()), 0);
    EXPECT_EQ(Platform::ReadStatusNumber(Debuggee.Id(), "TracerPid"), 0);
    Debuggee.Send('e');
    EXPECT_EQ(Debuggee.Reply(), 'e');
    EXPECT_EQ(Debugger.Wait(Ignored, 0ms), EBADF);
}

TEST_F(PtraceDebugger, RefusesWhatItCannotDebug)
{
    Ptrace::Debugger Debugger;
    EXPECT_EQ(Debugger.Attach(getpid()), EPERM);
    EXPECT_EQ(Debugger.Attach(0), EINVAL);
    EXPECT_EQ(Debugger.Attach(-1), EINVAL);
    Ptrace::Event Event;
    EXPECT_EQ(Debugger.Wait(Event, 0ms), EBADF);
    EXPECT_EQ(Debugger.Detach(1), EINVAL);
}

TEST_F(PtraceDebugger, ThreadsAndTheProcessEnd)
{
    Child Debuggee;
    Ptrace::Debugger Debugger;
    Attach(Debugger, Debuggee);
    Debuggee.Send('t');
    const Ptrace::Event Created = Next(Debugger);
    EXPECT_EQ(Created.Kind, Ptrace::EventKind::ThreadCreated);
    const Ptrace::Event Exited = Next(Debugger);
    EXPECT_EQ(Exited.Kind, Ptrace::EventKind::ThreadExited);
    EXPECT_EQ(Exited.ThreadId, Created.ThreadId);
    EXPECT_TRUE(WIFEXITED(Exited.Status) && WEXITSTATUS(Exited.Status) == 0) << Exited.Status;
    RunUntilReply(Debugger, Debuggee);
    EXPECT_EQ(Debuggee.Reply(), 't');

    Debuggee.Send('x');
    const Ptrace::Event End = Next(Debugger);
    EXPECT_EQ(End.Kind, Ptrace::EventKind::ProcessExited);
    EXPECT_TRUE(WIFEXITED(End.Status) && WEXITSTATUS(End.Status) == 7) << End.Status;
    Ptrace::Event Event;
    EXPECT_EQ(Debugger.Wait(Event, 10s), EBADF); // every thread has gone
}

TEST_F(PtraceDebugger, SignalsReachTheDebuggeeAndFaultsAreReportedTwice)
{
    Child Debuggee;
    Ptrace::Debugger Debugger;
    Attach(Debugger, Debuggee);
    // No fault: delivered, its handler replies, and no event.
    kill(Debuggee.Id(), SIGUSR1);
    RunUntilReply(Debugger, Debuggee);
    EXPECT_EQ(Debuggee.Reply(), 'u');

    Debuggee.Send('a');
    const Ptrace::Event First = Next(Debugger, false);
    ASSERT_EQ(First.Kind, Ptrace::EventKind::Fault);
    EXPECT_EQ(First.Info.si_signo, SIGABRT);
    EXPECT_FALSE(First.LastChance);
    EXPECT_NE(First.Address, 0u);
    // Passed on and not caught: once more before it kills.
    EXPECT_EQ(Debugger.Continue(First.ProcessId, First.ThreadId, true), 0);
    const Ptrace::Event Last = Next(Debugger, false);
    ASSERT_EQ(Last.Kind, Ptrace::EventKind::Fault);
    EXPECT_TRUE(Last.LastChance);
    EXPECT_EQ(Debugger.Continue(Last.ProcessId, Last.ThreadId, true), 0);
    const Ptrace::Event End = Next(Debugger);
    EXPECT_EQ(End.Kind, Ptrace::EventKind::ProcessExited);
    EXPECT_TRUE(WIFSIGNALED(End.Status) && WTERMSIG(End.Status) == SIGABRT) << End.Status;
}

TEST_F(PtraceDebugger, GroupStopIsHeldUntilSigcont)
{
    Child Debuggee;
    Ptrace::Debugger Debugger;
    Attach(Debugger, Debuggee);
    kill(Debuggee.Id(), SIGSTOP);
    Debuggee.Send('e');
    // However long the debugger waits, the stopped child does not answer.
    Ptrace::Event Event;
    for (int Round = 0; Round < 20; ++Round)
    {
        ASSERT_EQ(Debugger.Wait(Event, 10ms), ETIMEDOUT);
        ASSERT_FALSE(Debuggee.Replied());
    }
    kill(Debuggee.Id(), SIGCONT);
    RunUntilReply(Debugger, Debuggee);
    EXPECT_EQ(Debuggee.Reply(), 'e');
}

TEST_F(PtraceDebugger, ChannelRecordsOnlyFromTheDebuggee)
{
    Child Debuggee;
    Ptrace::Debugger Debugger(ChannelSignal);
    Attach(Debugger, Debuggee);
    kill(Debuggee.Id(), ChannelSignal); // not the debuggee's own: dropped
    Debuggee.Send('c');
    const Ptrace::Event Record = Next(Debugger);
    EXPECT_EQ(Record.Kind, Ptrace::EventKind::ChannelRecord);
    EXPECT_EQ(Record.Info.si_pid, Debuggee.Id());
    EXPECT_EQ(Record.Info.si_value.sival_ptr, reinterpret_cast<void*>(0x1234));
    RunUntilReply(Debugger, Debuggee);
    EXPECT_EQ(Debuggee.Reply(), 'c');
    Debuggee.Send('e');
    RunUntilReply(Debugger, Debuggee);
    EXPECT_EQ(Debuggee.Reply(), 'e');
}

TEST_F(PtraceDebugger, TwoDebuggersEachHearTheirOwn)
{
    Child First, Second;
    Ptrace::Debugger FirstDebugger, SecondDebugger;
    Attach(FirstDebugger, First);
    Attach(SecondDebugger, Second);
    // The second child, let go, stops at its thread's creation; the first
    // debugger waits meanwhile and leaves that stop alone.
    Ptrace::Event Event;
    ASSERT_EQ(SecondDebugger.Wait(Event, 0ms), ETIMEDOUT);
    Second.Send('t');
    siginfo_t Info = {};
    ASSERT_EQ(waitid(P_PID, static_cast<id_t>(Second.Id()), &Info, WSTOPPED | WNOWAIT | __WALL), 0);
    EXPECT_EQ(FirstDebugger.Wait(Event, 20ms), ETIMEDOUT);
    Info = {};
    ASSERT_EQ(waitid(P_PID, static_cast<id_t>(Second.Id()), &Info, WSTOPPED | WNOWAIT | WNOHANG | __WALL), 0);
    EXPECT_EQ(Info.si_pid, Second.Id());
    EXPECT_EQ(Next(SecondDebugger).Kind, Ptrace::EventKind::ThreadCreated);
    EXPECT_EQ(Next(SecondDebugger).Kind, Ptrace::EventKind::ThreadExited);
    RunUntilReply(SecondDebugger, Second);
    EXPECT_EQ(Second.Reply(), 't');

    First.Send('x');
    const Ptrace::Event End = Next(FirstDebugger);
    EXPECT_EQ(End.Kind, Ptrace::EventKind::ProcessExited);
    EXPECT_EQ(End.ProcessId, First.Id());
    Second.Send('e');
    RunUntilReply(SecondDebugger, Second);
    EXPECT_EQ(Second.Reply(), 'e');
}

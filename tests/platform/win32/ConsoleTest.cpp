#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <thread>
#include <cstdlib>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <windows.h>

namespace {

std::atomic<int> Calls{0};
std::atomic<DWORD> LastType{0xFFFF};
std::atomic<int> Order{0};
std::atomic<int> FirstOrder{0};
std::atomic<int> SecondOrder{0};

BOOL WINAPI Take(DWORD CtrlType)
{
    LastType = CtrlType;
    ++Calls;
    return TRUE;
}

BOOL WINAPI First(DWORD)
{
    FirstOrder = ++Order;
    return TRUE;
}

BOOL WINAPI PassOn(DWORD)
{
    SecondOrder = ++Order;
    return FALSE;
}

BOOL WINAPI Decline(DWORD) { return FALSE; }

BOOL WINAPI Linger(DWORD)
{
    ++Calls;
    std::this_thread::sleep_for(std::chrono::seconds(30));
    return TRUE;
}

bool WaitFor(const std::atomic<int>& Counter, int Value)
{
    for (int Round = 0; Round < 2000 && Counter.load() < Value; ++Round)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return Counter.load() >= Value;
}

void (*Disposition(int Signal))(int)
{
    struct sigaction Action;
    sigaction(Signal, nullptr, &Action);
    return Action.sa_handler;
}

// What Call returns with Descriptor in the place of a standard stream.
template <class Function>
auto WithStream(int Stream, int Descriptor, Function Call)
{
    const int Saved = dup(Stream);
    dup2(Descriptor, Stream);
    const auto Result = Call();
    dup2(Saved, Stream);
    close(Saved);
    return Result;
}

// What Call returns with a pipe's end as standard error.
template <class Function>
auto OnAPipe(Function Call)
{
    int Ends[2];
    EXPECT_EQ(pipe(Ends), 0);
    const auto Result = WithStream(STDERR_FILENO, Ends[1], Call);
    close(Ends[0]);
    close(Ends[1]);
    return Result;
}

// A pseudo-terminal: the terminal's side and the program's (Follower); both
// are -1 where the machine has none.
struct PseudoTerminal
{
    int Terminal = posix_openpt(O_RDWR | O_NOCTTY);
    int Follower = -1;
    PseudoTerminal()
    {
        if (Terminal >= 0 && grantpt(Terminal) == 0 && unlockpt(Terminal) == 0)
            Follower = open(ptsname(Terminal), O_RDWR | O_NOCTTY);
    }
    ~PseudoTerminal()
    {
        if (Follower >= 0)
            close(Follower);
        if (Terminal >= 0)
            close(Terminal);
    }
};

} // namespace

TEST(ConsoleControlConcurrency, SignalsBecomeEventsOnAThreadOfTheirOwn)
{
    Calls = 0;
    ASSERT_TRUE(SetConsoleCtrlHandler(Take, TRUE));
    const struct
    {
        int Signal;
        DWORD CtrlType;
    } Cases[] = {{SIGINT, CTRL_C_EVENT}, {SIGHUP, CTRL_CLOSE_EVENT}, {SIGTERM, CTRL_SHUTDOWN_EVENT}};
    int Expected = 0;
    for (const auto& Case : Cases)
    {
        // Each registration takes one event: the next one would end the process.
        ASSERT_TRUE(SetConsoleCtrlHandler(Take, FALSE));
        ASSERT_TRUE(SetConsoleCtrlHandler(Take, TRUE));
        kill(getpid(), Case.Signal);
        ASSERT_TRUE(WaitFor(Calls, ++Expected)) << Case.Signal;
        EXPECT_EQ(LastType.load(), Case.CtrlType);
    }
    ASSERT_TRUE(SetConsoleCtrlHandler(Take, FALSE));
    // With no handler left, the signals are as they were.
    EXPECT_EQ(Disposition(SIGINT), SIG_DFL);
    EXPECT_EQ(Disposition(SIGTERM), SIG_DFL);
}

TEST(ConsoleControlConcurrency, TheNewestHandlerIsAskedFirstAndMayPassTheEventOn)
{
    Order = FirstOrder = SecondOrder = 0;
    ASSERT_TRUE(SetConsoleCtrlHandler(First, TRUE));
    ASSERT_TRUE(SetConsoleCtrlHandler(PassOn, TRUE));
    kill(getpid(), SIGTERM);
    ASSERT_TRUE(WaitFor(Order, 2));
    EXPECT_EQ(SecondOrder.load(), 1);
    EXPECT_EQ(FirstOrder.load(), 2);
    EXPECT_TRUE(SetConsoleCtrlHandler(PassOn, FALSE));
    EXPECT_TRUE(SetConsoleCtrlHandler(First, FALSE));
}

TEST(ConsoleControl, IgnoredSignalsStayIgnoredAndBadCallsFail)
{
    struct sigaction Ignore = {}, Saved;
    Ignore.sa_handler = SIG_IGN;
    sigaction(SIGHUP, &Ignore, &Saved);
    Calls = 0;
    ASSERT_TRUE(SetConsoleCtrlHandler(Take, TRUE));
    EXPECT_EQ(Disposition(SIGHUP), SIG_IGN);
    kill(getpid(), SIGHUP);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(Calls.load(), 0);
    ASSERT_TRUE(SetConsoleCtrlHandler(Take, FALSE));
    EXPECT_EQ(Disposition(SIGHUP), SIG_IGN);
    sigaction(SIGHUP, &Saved, nullptr);

    EXPECT_FALSE(SetConsoleCtrlHandler(Take, FALSE));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(SetConsoleCtrlHandler(nullptr, TRUE));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(ConsoleControlDeathTest, AnEventNobodyTakesEndsTheProcessByItsSignal)
{
    // A fresh process: a forked one would lack the dispatching thread.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            SetConsoleCtrlHandler(Decline, TRUE);
            kill(getpid(), SIGTERM);
            std::this_thread::sleep_for(std::chrono::seconds(30));
        },
        testing::KilledBySignal(SIGTERM), "");
}

TEST(ConsoleControlDeathTest, ASecondEventEndsTheProcessAtOnce)
{
    // A fresh process: a forked one would lack the dispatching thread.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            Calls = 0;
            SetConsoleCtrlHandler(Linger, TRUE);
            kill(getpid(), SIGINT);
            WaitFor(Calls, 1);
            kill(getpid(), SIGINT);
            std::this_thread::sleep_for(std::chrono::seconds(30));
        },
        testing::KilledBySignal(SIGINT), "");
}

TEST(ConsoleControlDeathTest, ExitAfterAnEventEndsTheProcessByItsSignal)
{
    // A fresh process: a forked one would lack the dispatching thread.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            Calls = 0;
            SetConsoleCtrlHandler(Take, TRUE);
            kill(getpid(), SIGHUP);
            WaitFor(Calls, 1);
            SetConsoleCtrlHandler(Take, FALSE);
            ExitProcess(STATUS_CONTROL_C_EXIT);
        },
        testing::KilledBySignal(SIGHUP), "");
    EXPECT_EXIT(ExitProcess(3), testing::ExitedWithCode(3), "");
}

TEST(Console, OnlyATerminalHasAConsoleMode)
{
    DWORD Mode = 0;
    EXPECT_FALSE(OnAPipe([&] { return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &Mode); }));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

    PseudoTerminal Pty;
    if (Pty.Follower < 0)
        GTEST_SKIP() << "no pseudo-terminal here";
    EXPECT_TRUE(WithStream(STDOUT_FILENO, Pty.Follower,
                           [&] { return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &Mode); }));
    EXPECT_NE(Mode & ENABLE_PROCESSED_OUTPUT, 0u);
    EXPECT_EQ(GetStdHandle(7), INVALID_HANDLE_VALUE);
}

TEST(Console, TheScreenBufferIsTheTerminalsSizeAsItIsNow)
{
    CONSOLE_SCREEN_BUFFER_INFO Information = {};
    EXPECT_FALSE(OnAPipe([&] { return GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &Information); }));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

    PseudoTerminal Pty;
    if (Pty.Follower < 0)
        GTEST_SKIP() << "no pseudo-terminal here";
    // Each call asks the terminal again: a resize shows at once.
    // A terminal that says its width alone (script's) is one row high.
    const unsigned short Columns[3] = {40, 132, 80}, Rows[3] = {25, 25, 0};
    for (int Index = 0; Index < 3; ++Index)
    {
        winsize Size{};
        Size.ws_col = Columns[Index];
        Size.ws_row = Rows[Index];
        ioctl(Pty.Terminal, TIOCSWINSZ, &Size);
        CONSOLE_SCREEN_BUFFER_INFO Sizes = {};
        EXPECT_TRUE(WithStream(STDOUT_FILENO, Pty.Follower,
                               [&] { return GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &Sizes); }));
        EXPECT_EQ(Sizes.srWindow.Left, 0);
        EXPECT_EQ(Sizes.srWindow.Right - Sizes.srWindow.Left + 1, Columns[Index]);
        EXPECT_EQ(Sizes.srWindow.Bottom - Sizes.srWindow.Top + 1, std::max<int>(Rows[Index], 1));
        EXPECT_EQ(Sizes.dwSize.X, Columns[Index]);
    }
    EXPECT_FALSE(GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), nullptr));
}

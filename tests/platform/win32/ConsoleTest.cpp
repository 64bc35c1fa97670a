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
    int Pipe[2];
    ASSERT_EQ(pipe(Pipe), 0);
    const int Saved = dup(STDERR_FILENO);
    dup2(Pipe[1], STDERR_FILENO);
    DWORD Mode = 0;
    EXPECT_FALSE(GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &Mode));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    dup2(Saved, STDERR_FILENO);
    close(Saved);
    close(Pipe[0]);
    close(Pipe[1]);

    int Terminal = posix_openpt(O_RDWR | O_NOCTTY);
    if (Terminal < 0 || grantpt(Terminal) != 0 || unlockpt(Terminal) != 0)
        GTEST_SKIP() << "no pseudo-terminal here";
    const int Follower = open(ptsname(Terminal), O_RDWR | O_NOCTTY);
    ASSERT_GE(Follower, 0);
    const int SavedOutput = dup(STDOUT_FILENO);
    dup2(Follower, STDOUT_FILENO);
    const BOOL IsConsole = GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &Mode);
    dup2(SavedOutput, STDOUT_FILENO);
    close(SavedOutput);
    close(Follower);
    close(Terminal);
    EXPECT_TRUE(IsConsole);
    EXPECT_NE(Mode & ENABLE_PROCESSED_OUTPUT, 0u);
    EXPECT_EQ(GetStdHandle(7), INVALID_HANDLE_VALUE);
}

TEST(Console, TheScreenBufferIsTheTerminalsSizeAsItIsNow)
{
    CONSOLE_SCREEN_BUFFER_INFO Information = {};
    int Pipe[2];
    ASSERT_EQ(pipe(Pipe), 0);
    const int Saved = dup(STDERR_FILENO);
    dup2(Pipe[1], STDERR_FILENO);
    const BOOL PipeAnswered = GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &Information);
    dup2(Saved, STDERR_FILENO);
    close(Saved);
    close(Pipe[0]);
    close(Pipe[1]);
    EXPECT_FALSE(PipeAnswered);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

    int Terminal = posix_openpt(O_RDWR | O_NOCTTY);
    if (Terminal < 0 || grantpt(Terminal) != 0 || unlockpt(Terminal) != 0)
        GTEST_SKIP() << "no pseudo-terminal here";
    const int Follower = open(ptsname(Terminal), O_RDWR | O_NOCTTY);
    ASSERT_GE(Follower, 0);
    const int SavedOutput = dup(STDOUT_FILENO);
    dup2(Follower, STDOUT_FILENO);
    // Each call asks the terminal again: a resize shows at once.
    // A terminal that says its width alone (script's) is one row high.
    BOOL Answered[3] = {};
    CONSOLE_SCREEN_BUFFER_INFO Sizes[3] = {};
    const unsigned short Columns[3] = {40, 132, 80}, Rows[3] = {25, 25, 0};
    for (int Index = 0; Index < 3; ++Index)
    {
        winsize Size{};
        Size.ws_col = Columns[Index];
        Size.ws_row = Rows[Index];
        ioctl(Terminal, TIOCSWINSZ, &Size);
        Answered[Index] = GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &Sizes[Index]);
    }
    dup2(SavedOutput, STDOUT_FILENO);
    close(SavedOutput);
    close(Follower);
    close(Terminal);
    for (int Index = 0; Index < 3; ++Index)
    {
        EXPECT_TRUE(Answered[Index]);
        EXPECT_EQ(Sizes[Index].srWindow.Left, 0);
        EXPECT_EQ(Sizes[Index].srWindow.Right - Sizes[Index].srWindow.Left + 1, Columns[Index]);
        EXPECT_EQ(Sizes[Index].srWindow.Bottom - Sizes[Index].srWindow.Top + 1, std::max<int>(Rows[Index], 1));
        EXPECT_EQ(Sizes[Index].dwSize.X, Columns[Index]);
    }
    EXPECT_FALSE(GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), nullptr));
}

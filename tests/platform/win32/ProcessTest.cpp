// Processes: their start, their handles, their parents and their paths.

#include <csignal>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include <shlwapi.h>
#include <windows.h>
#include <winternl.h>

namespace {

// Runs a command line and returns the exit code, or -1.
long RunShell(const std::wstring& CommandLine, BOOL InheritHandles = FALSE)
{
    std::wstring Line = CommandLine;
    STARTUPINFOW StartupInfo = {};
    StartupInfo.cb = sizeof StartupInfo;
    PROCESS_INFORMATION Information = {};
    if (!CreateProcessW(L"/bin/sh", Line.data(), nullptr, nullptr, InheritHandles, 0, nullptr, nullptr, &StartupInfo,
                        &Information))
        return -1;
    EXPECT_EQ(WaitForSingleObject(Information.hProcess, 10000), WAIT_OBJECT_0);
    DWORD ExitCode = 0;
    EXPECT_TRUE(GetExitCodeProcess(Information.hProcess, &ExitCode));
    EXPECT_TRUE(CloseHandle(Information.hThread));
    EXPECT_TRUE(CloseHandle(Information.hProcess));
    return ExitCode;
}

// Starts a command line found on the search path; false on failure.
bool Start(std::wstring CommandLine, PROCESS_INFORMATION& Information)
{
    STARTUPINFOW StartupInfo = {};
    StartupInfo.cb = sizeof StartupInfo;
    return CreateProcessW(nullptr, CommandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &StartupInfo,
                          &Information);
}

int FdOf(HANDLE Handle) { return static_cast<int>(reinterpret_cast<intptr_t>(Handle) / 4 - 1); }

} // namespace

TEST(CreateProcessW, SplitsTheCommandLineAndReportsTheExitCode)
{
    EXPECT_EQ(RunShell(L"sh -c \"exit 7\""), 7);
    // The Windows quoting rules reach the program's arguments intact.
    // sh -c "test \"$1\" = 'a \"b\'" sh "a \"b\\": $1 is a "b\ (quote and backslash rules).
    EXPECT_EQ(RunShell(LR"(sh -c "test \"$1\" = 'a \"b\'" sh "a \"b\\")"), 0);
    EXPECT_EQ(RunShell(LR"(sh -c "test \"$1\" = 'a \"b\'" sh "a \"b\")"), 1);

    std::wstring Missing = L"\"/no/such/program\"";
    STARTUPINFOW StartupInfo = {};
    StartupInfo.cb = sizeof StartupInfo;
    PROCESS_INFORMATION Information = {};
    EXPECT_FALSE(CreateProcessW(Missing.c_str() + 1, Missing.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                &StartupInfo, &Information));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST(CreateProcessW, InheritsOnlyInheritableHandlesAndOnlyWhenAsked)
{
    SECURITY_ATTRIBUTES Inheritable = {sizeof Inheritable, nullptr, TRUE};
    const HANDLE Event = CreateEventW(&Inheritable, TRUE, FALSE, nullptr);
    const HANDLE Private = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(Event && Private);
    auto Has = [](HANDLE Handle) { return L"sh -c \"test -e /proc/self/fd/" + std::to_wstring(FdOf(Handle)) + L"\""; };
    EXPECT_EQ(RunShell(Has(Event), TRUE), 0);
    EXPECT_EQ(RunShell(Has(Event), FALSE), 1);
    EXPECT_EQ(RunShell(Has(Private), TRUE), 1);
    CloseHandle(Event);
    CloseHandle(Private);
}

TEST(NtQueryInformationProcess, ParentsOfThisProcessAndOfAChild)
{
    PROCESS_BASIC_INFORMATION Information = {};
    ULONG Length = 0;
    ASSERT_EQ(NtQueryInformationProcess(GetCurrentProcess(), ProcessBasicInformation, &Information, sizeof Information,
                                        &Length),
              0);
    EXPECT_EQ(Length, sizeof Information);
    EXPECT_EQ(Information.UniqueProcessId, static_cast<ULONG_PTR>(getpid()));
    EXPECT_EQ(Information.InheritedFromUniqueProcessId, static_cast<ULONG_PTR>(getppid()));

    PROCESS_INFORMATION Child = {};
    ASSERT_TRUE(Start(L"sleep 5", Child));
    ASSERT_EQ(
        NtQueryInformationProcess(Child.hProcess, ProcessBasicInformation, &Information, sizeof Information, nullptr),
        0);
    EXPECT_EQ(Information.InheritedFromUniqueProcessId, static_cast<ULONG_PTR>(getpid()));
    EXPECT_NE(NtQueryInformationProcess(Child.hProcess, ProcessBasicInformation, &Information, 8, nullptr), 0);
    kill(static_cast<pid_t>(Child.dwProcessId), SIGKILL);
    WaitForSingleObject(Child.hProcess, INFINITE);
    CloseHandle(Child.hThread);
    CloseHandle(Child.hProcess);
}

TEST(CreateProcessW, ChildrenStartWithNoSignalBlockedAndAreReapedAtTheirLastHandle)
{
    // Started from a thread that blocks a signal, the child blocks none.
    sigset_t Blocked, Previous;
    sigemptyset(&Blocked);
    sigaddset(&Blocked, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &Blocked, &Previous);
    PROCESS_INFORMATION Child = {};
    ASSERT_TRUE(Start(L"sh -c \"grep -q '^SigBlk:\t0*$' /proc/self/status\"", Child));
    pthread_sigmask(SIG_SETMASK, &Previous, nullptr);
    ASSERT_EQ(WaitForSingleObject(Child.hProcess, 10000), WAIT_OBJECT_0);
    DWORD ExitCode = 1;
    EXPECT_TRUE(GetExitCodeProcess(Child.hProcess, &ExitCode));
    EXPECT_EQ(ExitCode, 0u);

    // A second handle keeps the ended child; the last one lets it go.
    const pid_t ProcessId = static_cast<pid_t>(Child.dwProcessId);
    const HANDLE Second = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, Child.dwProcessId);
    ASSERT_NE(Second, nullptr);
    CloseHandle(Child.hThread);
    CloseHandle(Child.hProcess);
    EXPECT_EQ(kill(ProcessId, 0), 0); // a zombie still
    EXPECT_TRUE(GetExitCodeProcess(Second, &ExitCode));
    EXPECT_EQ(ExitCode, 0u);
    CloseHandle(Second);
    EXPECT_EQ(kill(ProcessId, 0), -1);
    EXPECT_EQ(errno, ESRCH);
}

TEST(GetModuleFileNameW, FullPathAndTruncation)
{
    wchar_t Path[MAX_PATH];
    const DWORD Length = GetModuleFileNameW(nullptr, Path, MAX_PATH);
    ASSERT_GT(Length, 0u);
    EXPECT_EQ(std::wstring(PathFindFileNameW(Path)), L"" OSTREL_TEST_BINARY);
    EXPECT_EQ(Path[0], L'/');
    wchar_t Short[4];
    EXPECT_EQ(GetModuleFileNameW(nullptr, Short, 4), 4u);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(std::wstring(Short), std::wstring(Path, 3));
}

namespace {

uint64_t HundredNanoseconds(const FILETIME& Time)
{
    return (static_cast<uint64_t>(Time.dwHighDateTime) << 32) | Time.dwLowDateTime;
}

} // namespace

TEST(GetProcessTimes, CountsTheProcessorTimeOfEveryThreadSinceTheStart)
{
    FILETIME Creation = {}, Exit = {}, Kernel[2] = {}, User[2] = {};
    ASSERT_TRUE(GetProcessTimes(GetCurrentProcess(), &Creation, &Exit, &Kernel[0], &User[0]));
    // 200 ms of work on another thread: a count of the calling thread alone
    // would not see it.
    std::thread Worker([] {
        timespec Start{}, Now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &Start);
        do
            clock_gettime(CLOCK_THREAD_CPUTIME_ID, &Now);
        while ((Now.tv_sec - Start.tv_sec) * 1000000000L + (Now.tv_nsec - Start.tv_nsec) < 200000000L);
    });
    Worker.join();
    ASSERT_TRUE(GetProcessTimes(GetCurrentProcess(), &Creation, &Exit, &Kernel[1], &User[1]));
    const uint64_t Busy = HundredNanoseconds(User[1]) - HundredNanoseconds(User[0]) + HundredNanoseconds(Kernel[1]) -
                          HundredNanoseconds(Kernel[0]);
    EXPECT_GE(Busy, 1'900'000u);
    EXPECT_EQ(HundredNanoseconds(Exit), 0u);
    // The start: since 1601, within the last hour of the wall clock.
    const uint64_t Now = 116444736000000000ull + static_cast<uint64_t>(time(nullptr)) * 10'000'000ull;
    EXPECT_LE(HundredNanoseconds(Creation), Now + 10'000'000ull);
    EXPECT_GE(HundredNanoseconds(Creation), Now - 3600 * 10'000'000ull);

    const HANDLE Self = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, GetCurrentProcessId());
    ASSERT_NE(Self, nullptr);
    EXPECT_TRUE(GetProcessTimes(Self, &Creation, &Exit, &Kernel[0], &User[0]));
    EXPECT_TRUE(CloseHandle(Self));
    EXPECT_FALSE(GetProcessTimes(GetCurrentProcess(), &Creation, &Exit, &Kernel[0], nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

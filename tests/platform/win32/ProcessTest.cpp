#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include <shlwapi.h>
#include <windows.h>
#include <winternl.h>

#include "Ptrace/PtraceDebugger.h"

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

TEST(EventsConcurrency, ManualResetWaitsAndTimeouts)
{
    const HANDLE Event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const HANDLE Other = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ASSERT_TRUE(Event && Other);
    const HANDLE Both[] = {Other, Event};
    EXPECT_EQ(WaitForMultipleObjects(2, Both, FALSE, 0), WAIT_TIMEOUT);
    std::thread Setter([&] { EXPECT_TRUE(SetEvent(Event)); });
    EXPECT_EQ(WaitForMultipleObjects(2, Both, FALSE, INFINITE), WAIT_OBJECT_0 + 1);
    Setter.join();
    // Manual reset: it stays signalled until reset.
    EXPECT_EQ(WaitForSingleObject(Event, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ResetEvent(Event));
    EXPECT_EQ(WaitForSingleObject(Event, 0), WAIT_TIMEOUT);
    // Automatic reset: one wait takes it; the lowest index wins.
    SetEvent(Other);
    SetEvent(Event);
    EXPECT_EQ(WaitForMultipleObjects(2, Both, FALSE, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(Other, 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForMultipleObjects(2, Both, TRUE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    EXPECT_TRUE(CloseHandle(Event));
    EXPECT_TRUE(CloseHandle(Other));
    EXPECT_FALSE(CloseHandle(Event));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(SetEvent(nullptr));
}

TEST(Handles, DuplicateProcessesAndThreads)
{
    EXPECT_EQ(GetCurrentProcessId(), static_cast<DWORD>(getpid()));
    EXPECT_FALSE(IsDebuggerPresent());
    HANDLE Self = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &Self, 0, FALSE,
                                DUPLICATE_SAME_ACCESS));
    int Value = 42, Copy = 0;
    SIZE_T Read = 0;
    EXPECT_TRUE(ReadProcessMemory(Self, &Value, &Copy, sizeof Copy, &Read));
    EXPECT_EQ(Copy, 42);
    EXPECT_EQ(Read, sizeof Copy);
    EXPECT_TRUE(CloseHandle(Self));

    const HANDLE Process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, GetCurrentProcessId());
    ASSERT_NE(Process, nullptr);
    EXPECT_EQ(WaitForSingleObject(Process, 0), WAIT_TIMEOUT); // it runs
    CloseHandle(Process);
    EXPECT_EQ(OpenProcess(PROCESS_VM_READ, FALSE, 0), nullptr);

    const HANDLE Thread = OpenThread(THREAD_GET_CONTEXT, FALSE, GetCurrentThreadId());
    ASSERT_NE(Thread, nullptr);
    CONTEXT Context = {};
    Context.ContextFlags = CONTEXT_ALL;
    // Only threads of a debugged process have a context to read.
    EXPECT_FALSE(GetThreadContext(Thread, &Context));
    CloseHandle(Thread);
}

TEST(ReadProcessMemory, StopsAtTheFirstUnreadableByte)
{
    const long Page = sysconf(_SC_PAGESIZE);
    auto* Pages = static_cast<char*>(mmap(nullptr, 2 * Page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(Pages, MAP_FAILED);
    std::memset(Pages, 'p', Page);
    mprotect(Pages + Page, Page, PROT_NONE);
    std::string Buffer(32, '\0');
    SIZE_T Read = 0;
    EXPECT_FALSE(ReadProcessMemory(GetCurrentProcess(), Pages + Page - 16, Buffer.data(), Buffer.size(), &Read));
    EXPECT_EQ(GetLastError(), ERROR_PARTIAL_COPY);
    EXPECT_EQ(Read, 16u);
    EXPECT_EQ(Buffer.substr(0, 16), std::string(16, 'p'));
    munmap(Pages, 2 * Page);
}

TEST(CreateFileW, DispositionsAndErrors)
{
    char Directory[] = "/tmp/ostrel-test-XXXXXX";
    ASSERT_TRUE(mkdtemp(Directory));
    const std::wstring Path = std::wstring(Directory, Directory + std::strlen(Directory)) + L"/file.dmp";
    HANDLE File = CreateFileW(Path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(File, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    DWORD Written = 0;
    EXPECT_TRUE(WriteFile(File, "abc", 3, &Written, nullptr));
    CloseHandle(File);
    // Replacing an existing file says so, and empties it.
    File = CreateFileW(Path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    CloseHandle(File);
    EXPECT_EQ(CreateFileW(Path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
    EXPECT_EQ(CreateFileW((Path + L"/x").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    const std::string Narrow(Path.begin(), Path.end());
    FILE* Stream = std::fopen(Narrow.c_str(), "rb");
    ASSERT_NE(Stream, nullptr);
    EXPECT_EQ(std::fgetc(Stream), EOF);
    std::fclose(Stream);
    std::remove(Narrow.c_str());
    rmdir(Directory);
}

TEST(CreateFileW, PrivateRegularFilesOnlyNeverFollowedOrBlocking)
{
    char Directory[] = "/tmp/ostrel-test-XXXXXX";
    ASSERT_TRUE(mkdtemp(Directory));
    const std::string Folder = Directory;
    const auto Wide = [](const std::string& Path) { return std::wstring(Path.begin(), Path.end()); };
    const auto Create = [&](const std::string& Path) {
        return CreateFileW(Wide(Path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    const auto Contents = [](const std::string& Path) {
        std::string Text(64, '\0');
        FILE* Stream = std::fopen(Path.c_str(), "rb");
        Text.resize(Stream ? std::fread(Text.data(), 1, Text.size(), Stream) : 0);
        if (Stream)
            std::fclose(Stream);
        return Text;
    };
    const mode_t Mask = umask(0);

    // New files are private whatever the mask allows.
    const std::string Dump = Folder + "/a.dmp";
    HANDLE File = Create(Dump);
    ASSERT_NE(File, INVALID_HANDLE_VALUE);
    CloseHandle(File);
    struct stat Status;
    ASSERT_EQ(stat(Dump.c_str(), &Status), 0);
    EXPECT_EQ(Status.st_mode & 0777, 0600u);

    // An existing file, readable by all and linked elsewhere, gives way to a
    // new private one; the other name keeps the old contents.
    const std::string Other = Folder + "/other";
    ASSERT_EQ(chmod(Dump.c_str(), 0644), 0);
    {
        FILE* Stream = std::fopen(Dump.c_str(), "wb");
        std::fputs("old", Stream);
        std::fclose(Stream);
    }
    ASSERT_EQ(link(Dump.c_str(), Other.c_str()), 0);
    File = Create(Dump);
    ASSERT_NE(File, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    CloseHandle(File);
    ASSERT_EQ(stat(Dump.c_str(), &Status), 0);
    EXPECT_EQ(Status.st_mode & 0777, 0600u);
    EXPECT_EQ(Contents(Dump), "");
    EXPECT_EQ(Contents(Other), "old");

    // A link at the name is not followed, and its target stays as it was.
    const std::string Link = Folder + "/link.dmp";
    ASSERT_EQ(symlink(Other.c_str(), Link.c_str()), 0);
    for (DWORD Disposition : {CREATE_ALWAYS, OPEN_ALWAYS, OPEN_EXISTING, TRUNCATE_EXISTING})
    {
        EXPECT_EQ(CreateFileW(Wide(Link).c_str(), GENERIC_WRITE, 0, nullptr, Disposition, 0, nullptr),
                  INVALID_HANDLE_VALUE)
            << Disposition;
        EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    }
    EXPECT_EQ(Contents(Other), "old");
    ASSERT_EQ(lstat(Link.c_str(), &Status), 0);
    EXPECT_TRUE(S_ISLNK(Status.st_mode));

    // Nor does a FIFO block (nobody reads it) or a device open.
    const std::string Fifo = Folder + "/fifo.dmp";
    ASSERT_EQ(mkfifo(Fifo.c_str(), 0600), 0);
    EXPECT_EQ(Create(Fifo), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(CreateFileW(L"/dev/null", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

    // Truncating an existing regular file still works.
    File = CreateFileW(Wide(Other).c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, 0, nullptr);
    ASSERT_NE(File, INVALID_HANDLE_VALUE);
    CloseHandle(File);
    EXPECT_EQ(Contents(Other), "");

    umask(Mask);
    for (const std::string& Path : {Dump, Other, Link, Fifo})
        unlink(Path.c_str());
    rmdir(Directory);
}

TEST(NtQueryInformationProcess, ParentsOfThisProcessAndOfAChild)
{
    PROCESS_BASIC_INFORMATION Information = {};
    ULONG Length = 0;
    ASSERT_EQ(NtQueryInformationProcess(GetCurrentProcess(), ProcessBasicInformation, &Information,
                                        sizeof Information, &Length),
              0);
    EXPECT_EQ(Length, sizeof Information);
    EXPECT_EQ(Information.UniqueProcessId, static_cast<ULONG_PTR>(getpid()));
    EXPECT_EQ(Information.InheritedFromUniqueProcessId, static_cast<ULONG_PTR>(getppid()));

    PROCESS_INFORMATION Child = {};
    ASSERT_TRUE(Start(L"sleep 5", Child));
    ASSERT_EQ(NtQueryInformationProcess(Child.hProcess, ProcessBasicInformation, &Information, sizeof Information,
                                        nullptr),
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

TEST(ShellHelpers, PathsAndNumbers)
{
    wchar_t Buffer[MAX_PATH];
    EXPECT_STREQ(PathCombineW(Buffer, L"/opt/bin/", L"a.dmp"), L"/opt/bin/a.dmp");
    EXPECT_STREQ(PathCombineW(Buffer, L"/opt/bin", L"a.dmp"), L"/opt/bin/a.dmp");
    EXPECT_STREQ(PathCombineW(Buffer, L"/opt/bin", L"/abs"), L"/abs");
    EXPECT_EQ(PathCombineW(Buffer, L"/opt", std::wstring(MAX_PATH, L'n').c_str()), nullptr);
    EXPECT_STREQ(PathFindFileNameW(L"/opt/bin/ostrel"), L"ostrel");
    EXPECT_STREQ(PathFindFileNameW(L"C:\\W\\d3d11.dll"), L"d3d11.dll");
    EXPECT_STREQ(PathFindFileNameW(L"/opt/bin/"), L"bin/");
    EXPECT_STREQ(PathFindFileNameW(L"plain"), L"plain");
    EXPECT_STREQ(PathFindFileNameW(L""), L"");

    int Value = -1;
    EXPECT_TRUE(StrToIntExW(L"6182", STIF_DEFAULT, &Value));
    EXPECT_EQ(Value, 6182);
    EXPECT_TRUE(StrToIntExW(L"0x1826", STIF_SUPPORT_HEX, &Value));
    EXPECT_EQ(Value, 0x1826);
    EXPECT_TRUE(StrToIntExW(L"0x1826", STIF_DEFAULT, &Value)); // the zero, then no digits
    EXPECT_EQ(Value, 0);
    EXPECT_TRUE(StrToIntExW(L" -12abc", STIF_DEFAULT, &Value));
    EXPECT_EQ(Value, -12);
    EXPECT_TRUE(StrToIntExW(L"0xFFFFFFFF", STIF_SUPPORT_HEX, &Value));
    EXPECT_EQ(Value, -1);
    EXPECT_FALSE(StrToIntExW(L"abc", STIF_SUPPORT_HEX, &Value));
    EXPECT_EQ(Value, 0);
    EXPECT_FALSE(StrToIntExW(L"", STIF_DEFAULT, &Value));

    wchar_t Wide[8];
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "\xC3\xA9t\xC3\xA9", -1, Wide, 8), 4);
    EXPECT_STREQ(Wide, L"\u00E9t\u00E9");
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "\xC3(", 2, Wide, 8), 0);
    EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xC3(", 2, Wide, 8), 2); // replaced
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abcdefghij", 10, Wide, 8), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abcdefghij", 10, nullptr, 0), 10);
}

TEST(GetModuleFileNameW, FullPathAndTruncation)
{
    wchar_t Path[MAX_PATH];
    const DWORD Length = GetModuleFileNameW(nullptr, Path, MAX_PATH);
    ASSERT_GT(Length, 0u);
    EXPECT_EQ(std::wstring(PathFindFileNameW(Path)), L"ostrel_tests");
    EXPECT_EQ(Path[0], L'/');
    wchar_t Short[4];
    EXPECT_EQ(GetModuleFileNameW(nullptr, Short, 4), 4u);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(std::wstring(Short), std::wstring(Path, 3));
}

TEST(ExceptionFromSignal, FaultsBecomeTheirWindowsCodes)
{
    siginfo_t Info = {};
    EXCEPTION_RECORD Record;
    Info.si_signo = SIGSEGV;
    Info.si_addr = reinterpret_cast<void*>(0x10);
    EXPECT_EQ(Platform::ExceptionFromSignal(Info, Record), EXCEPTION_ACCESS_VIOLATION);
    EXPECT_EQ(Record.NumberParameters, 2u);
    EXPECT_EQ(Record.ExceptionInformation[1], 0x10u);
    Info.si_signo = SIGFPE;
    Info.si_code = FPE_INTDIV;
    EXPECT_EQ(Platform::ExceptionFromSignal(Info, Record), EXCEPTION_INT_DIVIDE_BY_ZERO);
    Info.si_signo = SIGILL;
    Info.si_code = ILL_ILLOPC;
    EXPECT_EQ(Platform::ExceptionFromSignal(Info, Record), EXCEPTION_ILLEGAL_INSTRUCTION);
    Info.si_signo = SIGTRAP;
    Info.si_code = SI_KERNEL;
    EXPECT_EQ(Platform::ExceptionFromSignal(Info, Record), EXCEPTION_BREAKPOINT);
    Info.si_signo = SIGABRT;
    EXPECT_EQ(Platform::ExceptionFromSignal(Info, Record), STATUS_STACK_BUFFER_OVERRUN);
    EXPECT_EQ(Record.ExceptionFlags, EXCEPTION_NONCONTINUABLE);
    for (int Signal : {SIGUSR1, SIGCHLD, SIGPIPE, SIGTERM})
    {
        Info.si_signo = Signal;
        EXPECT_EQ(Platform::ExceptionFromSignal(Info, Record), 0u) << Signal;
    }
}

TEST(DebugActiveProcess, RefusesWhatItCannotDebug)
{
    EXPECT_FALSE(DebugActiveProcess(GetCurrentProcessId()));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(DebugActiveProcess(0));
    DEBUG_EVENT Event;
    EXPECT_FALSE(WaitForDebugEventEx(&Event, 0));
    EXPECT_FALSE(ContinueDebugEvent(1, 1, DBG_CONTINUE));
    EXPECT_FALSE(DebugActiveProcessStop(1));
}

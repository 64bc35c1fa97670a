// Handles of processes and threads.

#include <csignal>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <shlwapi.h>
#include <windows.h>

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

// The debugging functions: what they refuse, and reading process memory.

#include <csignal>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <shlwapi.h>
#include <windows.h>

TEST(ReadProcessMemory, StopsAtTheFirstUnreadableByte)
{
    const long Page = sysconf(_SC_PAGESIZE);
    auto* Pages =
        static_cast<char*>(mmap(nullptr, 2 * Page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
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

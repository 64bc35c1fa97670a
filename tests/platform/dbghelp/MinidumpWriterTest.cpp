// The minidump writer: which streams each dump type holds, for a process
// that is not debugged here (a dump without threads).

#include <csignal>
#include <cstdio>
#include <set>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include <windows.h>

#include <dbghelp.h>

#include "dbghelp/MinidumpWriter.h"

namespace {

// A process that sleeps until it is killed.
class Sleeper
{
public:
    Sleeper()
    {
        char Program[] = "/bin/sleep", Seconds[] = "60";
        char* Arguments[] = {Program, Seconds, nullptr};
        EXPECT_EQ(posix_spawn(&m_ProcessId, Program, nullptr, nullptr, Arguments, environ), 0);
    }
    ~Sleeper()
    {
        kill(m_ProcessId, SIGKILL);
        waitpid(m_ProcessId, nullptr, 0);
    }
    pid_t m_ProcessId = 0;
};

// The types of the streams in a dump of Sleeper of Type.
std::set<ULONG32> StreamsOf(const Sleeper& Process, MINIDUMP_TYPE Type)
{
    FILE* File = std::tmpfile();
    EXPECT_NE(File, nullptr);
    if (!File)
        return {};
    Platform::MinidumpWriter Writer(fileno(File), Process.m_ProcessId, Type);
    EXPECT_TRUE(Writer.Write(nullptr)) << GetLastError();
    MINIDUMP_HEADER Header = {};
    std::set<ULONG32> Types;
    if (pread(fileno(File), &Header, sizeof Header, 0) == sizeof Header && Header.Signature == MINIDUMP_SIGNATURE)
    {
        std::vector<MINIDUMP_DIRECTORY> Directory(Header.NumberOfStreams);
        const auto Size = static_cast<ssize_t>(Directory.size() * sizeof(MINIDUMP_DIRECTORY));
        EXPECT_EQ(pread(fileno(File), Directory.data(), Size, Header.StreamDirectoryRva), Size);
        for (const MINIDUMP_DIRECTORY& Entry : Directory)
            Types.insert(Entry.StreamType);
    }
    std::fclose(File);
    return Types;
}

} // namespace

TEST(MinidumpWriter, EachTypeHoldsItsStreams)
{
    Sleeper Process;
    // Memory information alone: the region list, and only the stacks' memory.
    const std::set<ULONG32> Info = StreamsOf(Process, MiniDumpWithFullMemoryInfo);
    EXPECT_TRUE(Info.count(MemoryInfoListStream));
    EXPECT_TRUE(Info.count(MemoryListStream));
    EXPECT_FALSE(Info.count(Memory64ListStream));
    // Full memory alone: all of it, without the region list.
    const std::set<ULONG32> Full = StreamsOf(Process, MiniDumpWithFullMemory);
    EXPECT_FALSE(Full.count(MemoryInfoListStream));
    EXPECT_TRUE(Full.count(Memory64ListStream));
    EXPECT_FALSE(Full.count(MemoryListStream));
    // Every type: the system, the process and its modules.
    for (const std::set<ULONG32>* Streams : {&Info, &Full})
        for (ULONG32 Stream : {SystemInfoStream, MiscInfoStream, ThreadListStream, ModuleListStream})
            EXPECT_TRUE(Streams->count(Stream)) << Stream;
    const std::set<ULONG32> Normal = StreamsOf(Process, MiniDumpNormal);
    EXPECT_FALSE(Normal.count(MemoryInfoListStream));
    EXPECT_FALSE(Normal.count(Memory64ListStream));
}

// The minidump writer: which streams each dump type holds, and the memory a
// full dump holds, for a process that is not debugged here (a dump without
// threads).

#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <spawn.h>
#include <string>
#include <sys/mman.h>
#include <sys/prctl.h>
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

constexpr size_t PageSize = 4096;
constexpr unsigned char Patterns[3] = {0xA1, 0xB2, 0xC3};

// This test program started again with OSTREL_TEST_MAPPED_PAGES set: three
// pages, each filled with its pattern, the middle one made unreadable and,
// for "pageout", the last one pushed out to swap. It prints their address
// and waits to be killed, before any test runs.
[[maybe_unused]] const bool MappedPagesChild = [] {
    const char* Mode = std::getenv("OSTREL_TEST_MAPPED_PAGES");
    if (!Mode)
        return false;
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    void* Mapping = mmap(nullptr, 3 * PageSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (Mapping == MAP_FAILED)
        _exit(1);
    auto* Pages = static_cast<unsigned char*>(Mapping);
    for (size_t Index = 0; Index < 3; ++Index)
        std::memset(Pages + Index * PageSize, Patterns[Index], PageSize);
    mprotect(Pages + PageSize, PageSize, PROT_NONE);
    if (std::strcmp(Mode, "pageout") == 0)
        madvise(Pages + 2 * PageSize, PageSize, MADV_PAGEOUT);
    std::printf("%" PRIxPTR "\n", reinterpret_cast<uintptr_t>(Pages));
    std::fflush(stdout);
    for (;;)
        pause();
}();

// The child above, and where its pages lie.
class MappedPages
{
public:
    explicit MappedPages(const char* Mode)
    {
        int Pipe[2];
        if (pipe(Pipe) != 0)
            return;
        posix_spawn_file_actions_t Actions;
        posix_spawn_file_actions_init(&Actions);
        posix_spawn_file_actions_adddup2(&Actions, Pipe[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&Actions, Pipe[0]);
        std::vector<std::string> Environment;
        for (char** Entry = environ; *Entry; ++Entry)
            Environment.emplace_back(*Entry);
        Environment.push_back(std::string("OSTREL_TEST_MAPPED_PAGES=") + Mode);
        std::vector<char*> Pointers;
        for (std::string& Entry : Environment)
            Pointers.push_back(Entry.data());
        Pointers.push_back(nullptr);
        char Program[] = "/proc/self/exe";
        char* Arguments[] = {Program, nullptr};
        const int Spawned = posix_spawn(&m_ProcessId, Program, &Actions, nullptr, Arguments, Pointers.data());
        posix_spawn_file_actions_destroy(&Actions);
        close(Pipe[1]);
        if (Spawned != 0)
            m_ProcessId = 0;
        // The line comes once the pages are in place, or the pipe ends.
        std::string Line;
        char Byte;
        while (read(Pipe[0], &Byte, 1) == 1 && Byte != '\n')
            Line += Byte;
        close(Pipe[0]);
        m_Address = std::strtoull(Line.c_str(), nullptr, 16);
    }
    ~MappedPages()
    {
        if (m_ProcessId <= 0)
            return;
        kill(m_ProcessId, SIGKILL);
        waitpid(m_ProcessId, nullptr, 0);
    }
    // The child's page map entry of a page.
    uint64_t PageMapEntry(uint64_t Address) const
    {
        uint64_t Entry = 0;
        std::ifstream PageMap("/proc/" + std::to_string(m_ProcessId) + "/pagemap", std::ios::binary);
        PageMap.seekg(static_cast<std::streamoff>(Address / PageSize * sizeof Entry));
        PageMap.read(reinterpret_cast<char*>(&Entry), sizeof Entry);
        return Entry;
    }

    pid_t m_ProcessId = 0;
    uint64_t m_Address = 0;
};

struct DumpedRange
{
    uint64_t Start;
    uint64_t Size;
    uint64_t Rva; // where its bytes lie in the dump
};

// A full dump of a process: its memory ranges, and the file's bytes.
struct FullDump
{
    std::vector<DumpedRange> Ranges;
    std::vector<unsigned char> Bytes;

    // The range that holds Address, or null.
    const DumpedRange* Holding(uint64_t Address) const
    {
        for (const DumpedRange& Range : Ranges)
            if (Address >= Range.Start && Address - Range.Start < Range.Size)
                return &Range;
        return nullptr;
    }
    // Whether the dump holds Size bytes at Address, each of them Value.
    bool Holds(uint64_t Address, size_t Size, unsigned char Value) const
    {
        const DumpedRange* Range = Holding(Address);
        if (!Range || Address + Size > Range->Start + Range->Size)
            return false;
        const uint64_t Offset = Range->Rva + (Address - Range->Start);
        if (Offset + Size > Bytes.size())
            return false;
        for (size_t Index = 0; Index < Size; ++Index)
            if (Bytes[Offset + Index] != Value)
                return false;
        return true;
    }
};

FullDump DumpFully(pid_t ProcessId)
{
    FullDump Dump;
    FILE* File = std::tmpfile();
    EXPECT_NE(File, nullptr);
    if (!File)
        return Dump;
    Platform::MinidumpWriter Writer(fileno(File), ProcessId, MiniDumpWithFullMemory);
    EXPECT_TRUE(Writer.Write(nullptr)) << GetLastError();
    const off_t Size = lseek(fileno(File), 0, SEEK_END);
    Dump.Bytes.resize(static_cast<size_t>(Size));
    EXPECT_EQ(pread(fileno(File), Dump.Bytes.data(), Dump.Bytes.size(), 0), Size);
    std::fclose(File);

    auto At = [&](uint64_t Offset, void* Target, size_t Length) {
        if (Offset + Length > Dump.Bytes.size())
            return false;
        std::memcpy(Target, Dump.Bytes.data() + Offset, Length);
        return true;
    };
    MINIDUMP_HEADER Header = {};
    if (!At(0, &Header, sizeof Header))
        return Dump;
    for (ULONG32 Index = 0; Index < Header.NumberOfStreams; ++Index)
    {
        MINIDUMP_DIRECTORY Entry = {};
        if (!At(Header.StreamDirectoryRva + Index * sizeof Entry, &Entry, sizeof Entry) ||
            Entry.StreamType != Memory64ListStream)
            continue;
        ULONG64 Count = 0, Rva = 0;
        At(Entry.Location.Rva, &Count, sizeof Count);
        At(Entry.Location.Rva + sizeof Count, &Rva, sizeof Rva);
        for (ULONG64 Item = 0; Item < Count; ++Item)
        {
            MINIDUMP_MEMORY_DESCRIPTOR64 Descriptor = {};
            if (!At(Entry.Location.Rva + 2 * sizeof(ULONG64) + Item * sizeof Descriptor, &Descriptor,
                    sizeof Descriptor))
                break;
            Dump.Ranges.push_back({Descriptor.StartOfMemoryRange, Descriptor.DataSize, Rva});
            Rva += Descriptor.DataSize;
        }
    }
    return Dump;
}

} // namespace

TEST(MinidumpWriter, AFullDumpStopsBeforeAnUnreadablePageAndResumesAfterIt)
{
    MappedPages Child("");
    ASSERT_NE(Child.m_Address, 0u) << "the child did not map its pages";
    const uint64_t First = Child.m_Address, Unreadable = First + PageSize, Last = First + 2 * PageSize;
    const FullDump Dump = DumpFully(Child.m_ProcessId);
    ASSERT_FALSE(Dump.Ranges.empty());

    const DumpedRange* Before = Dump.Holding(First);
    ASSERT_NE(Before, nullptr) << "the readable page before is missing";
    EXPECT_EQ(Before->Start + Before->Size, Unreadable) << "the range does not end at the unreadable page";
    EXPECT_TRUE(Dump.Holds(First, PageSize, Patterns[0]));
    for (const DumpedRange& Range : Dump.Ranges)
        EXPECT_FALSE(Range.Start < Unreadable + PageSize && Unreadable < Range.Start + Range.Size)
            << "a range over the unreadable page: " << std::hex << Range.Start << "+" << Range.Size;
    const DumpedRange* After = Dump.Holding(Last);
    ASSERT_NE(After, nullptr) << "the readable page after is missing";
    EXPECT_EQ(After->Start, Last) << "the range after does not start at the page after";
    EXPECT_TRUE(Dump.Holds(Last, PageSize, Patterns[2]));
}

TEST(MinidumpWriter, AFullDumpHoldsPagesThatWereSwappedOut)
{
    std::ifstream Swaps("/proc/swaps");
    std::string Header, Device;
    std::getline(Swaps, Header);
    if (!(Swaps >> Device))
        GTEST_SKIP() << "no swap here (/proc/swaps lists none): a page cannot be pushed out";
    MappedPages Child("pageout");
    ASSERT_NE(Child.m_Address, 0u) << "the child did not map its pages";
    const uint64_t Last = Child.m_Address + 2 * PageSize;
    const uint64_t Entry = Child.PageMapEntry(Last);
    if (!(Entry & (1ull << 62)) || (Entry & (1ull << 63)))
        GTEST_SKIP() << "the kernel kept the page in memory (page map entry " << std::hex << Entry << ")";
    const FullDump Dump = DumpFully(Child.m_ProcessId);
    EXPECT_TRUE(Dump.Holds(Last, PageSize, Patterns[2])) << "the swapped-out page is missing or wrong";
    EXPECT_TRUE(Dump.Holds(Child.m_Address, PageSize, Patterns[0]));
}

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

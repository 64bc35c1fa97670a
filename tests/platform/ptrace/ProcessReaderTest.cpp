#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "Ptrace/ProcessReader.h"

namespace {

constexpr size_t Page = 4096;

uint64_t Address(const void* Pointer) { return reinterpret_cast<uint64_t>(Pointer); }

} // namespace

TEST(ProcessReader, PopulatedPagesAreThoseEverTouched)
{
    // 64 MiB never touched but for three pages, two of them neighbours.
    const size_t Size = 64u << 20;
    auto* Region = static_cast<char*>(
        mmap(nullptr, Size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0));
    ASSERT_NE(Region, MAP_FAILED);
    Region[5 * Page] = 1;
    Region[6 * Page + 100] = 1;
    Region[Size - 1] = 1;
    std::vector<Platform::AddressRange> Runs;
    ASSERT_TRUE(Platform::FindPopulatedPages(getpid(), Address(Region), Address(Region) + Size, Runs));
    ASSERT_EQ(Runs.size(), 2u);
    EXPECT_EQ(Runs[0].Start, Address(Region) + 5 * Page);
    EXPECT_EQ(Runs[0].End, Address(Region) + 7 * Page);
    EXPECT_EQ(Runs[1].Start, Address(Region) + Size - Page);
    EXPECT_EQ(Runs[1].End, Address(Region) + Size);

    // A run that goes on from the last one extends it.
    ASSERT_TRUE(Platform::FindPopulatedPages(getpid(), Address(Region) + 7 * Page, Address(Region) + 8 * Page, Runs));
    EXPECT_EQ(Runs.size(), 2u);
    Region[7 * Page] = 1;
    Runs.resize(1);
    ASSERT_TRUE(Platform::FindPopulatedPages(getpid(), Address(Region) + 7 * Page, Address(Region) + 8 * Page, Runs));
    ASSERT_EQ(Runs.size(), 1u);
    EXPECT_EQ(Runs[0].End, Address(Region) + 8 * Page);
    munmap(Region, Size);

    EXPECT_FALSE(Platform::FindPopulatedPages(999999999, 0, Page, Runs));
}

TEST(ProcessReader, MapsKeepTheNamesOfDeletedFiles)
{
    char Path[] = "/tmp/ostrel-reader-XXXXXX";
    const int Fd = mkstemp(Path);
    ASSERT_NE(Fd, -1);
    ASSERT_EQ(ftruncate(Fd, Page), 0);
    void* Mapping = mmap(nullptr, Page, PROT_READ, MAP_SHARED, Fd, 0);
    ASSERT_NE(Mapping, MAP_FAILED);
    close(Fd);
    unlink(Path);
    std::string Text;
    bool Found = false;
    for (const Platform::MemoryRegion& Region : Platform::ReadMemoryMap(0, &Text))
        if (Region.Start == Address(Mapping))
        {
            Found = true;
            EXPECT_EQ(Region.Name, Path);
            EXPECT_EQ(Region.End - Region.Start, Page);
            EXPECT_TRUE(Region.Read && !Region.Write && !Region.Execute);
        }
    EXPECT_TRUE(Found);
    EXPECT_NE(Text.find(std::string(Path) + " (deleted)"), std::string::npos); // the text as it stands
    munmap(Mapping, Page);
}

TEST(ProcessReader, MemoryThreadsAndStatus)
{
    const size_t Size = 2 * Page;
    auto* Pages = static_cast<char*>(mmap(nullptr, Size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(Pages, MAP_FAILED);
    std::memset(Pages, 'r', Page);
    mprotect(Pages + Page, Page, PROT_NONE);
    char Buffer[64] = {};
    EXPECT_EQ(Platform::ReadProcessBytes(getpid(), Address(Pages) + Page - 10, Buffer, sizeof Buffer), 10u);
    EXPECT_EQ(std::string(Buffer, 10), std::string(10, 'r'));
    EXPECT_EQ(Platform::ReadProcessBytes(0, Address(Pages) + Page, Buffer, sizeof Buffer), 0u);
    munmap(Pages, Size);

    std::thread Other([] { usleep(100000); });
    const auto Threads = Platform::ListThreads(getpid());
    EXPECT_GE(Threads.size(), 2u);
    EXPECT_NE(std::find(Threads.begin(), Threads.end(), getpid()), Threads.end());
    Other.join();

    EXPECT_EQ(Platform::ReadStatusNumber(0, "Tgid"), getpid());
    EXPECT_EQ(Platform::ReadStatusNumber(getpid(), "PPid"), getppid());
    EXPECT_EQ(Platform::ReadStatusNumber(0, "NoSuchField"), -1);
    std::string Mask;
    EXPECT_TRUE(Platform::ReadStatusField(getpid(), gettid(), "SigBlk", Mask));
    EXPECT_EQ(Mask.size(), 16u);
    EXPECT_FALSE(Platform::ReadProcessFile(0, "cmdline").empty());
    EXPECT_NE(Platform::ReadExecutablePath(0).find(OSTREL_TEST_BINARY), std::string::npos);
}

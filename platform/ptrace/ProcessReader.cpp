#include "Ptrace/ProcessReader.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

namespace Platform {

namespace {

constexpr uint64_t PageSize = 4096;
// Page map entries: bit 63 present in memory, bit 62 swapped out.
constexpr uint64_t PagePresent = 1ull << 63;
constexpr uint64_t PageSwapped = 1ull << 62;
// Entries read at once: 256 KiB of page map for 128 MiB of addresses.
constexpr size_t PageMapChunk = 32768;

std::string ProcPath(pid_t ProcessId, pid_t ThreadId, const char* Name)
{
    char Path[96];
    const std::string Process = ProcessId ? std::to_string(ProcessId) : std::string("self");
    if (ThreadId)
        std::snprintf(Path, sizeof Path, "/proc/%s/task/%d/%s", Process.c_str(), ThreadId, Name);
    else
        std::snprintf(Path, sizeof Path, "/proc/%s/%s", Process.c_str(), Name);
    return Path;
}

std::string DropDeletedSuffix(std::string Name)
{
    const size_t Length = sizeof DeletedSuffix - 1;
    if (Name.size() > Length && Name.compare(Name.size() - Length, Length, DeletedSuffix) == 0)
        Name.resize(Name.size() - Length);
    return Name;
}

} // namespace

std::string ReadProcessFile(pid_t ProcessId, const char* Name)
{
    std::string Text;
    const int Fd = open(ProcPath(ProcessId, 0, Name).c_str(), O_RDONLY | O_CLOEXEC);
    if (Fd == -1)
        return Text;
    char Buffer[8192];
    for (ssize_t Read; (Read = read(Fd, Buffer, sizeof Buffer)) != 0;)
    {
        if (Read < 0)
        {
            if (errno == EINTR)
                continue;
            break;
        }
        Text.append(Buffer, static_cast<size_t>(Read));
    }
    close(Fd);
    return Text;
}

std::vector<MemoryRegion> ReadMemoryMap(pid_t ProcessId, std::string* Text)
{
    std::vector<MemoryRegion> Regions;
    const std::string Maps = ReadProcessFile(ProcessId, "maps");
    if (Text)
        *Text = Maps;
    for (size_t Position = 0; Position < Maps.size();)
    {
        size_t End = Maps.find('\n', Position);
        if (End == std::string::npos)
            End = Maps.size();
        const std::string Line = Maps.substr(Position, End - Position);
        Position = End + 1;
        MemoryRegion Region;
        char Permissions[8] = {};
        unsigned long Start = 0, Stop = 0, Offset = 0;
        int NameOffset = 0;
        if (std::sscanf(Line.c_str(), "%lx-%lx %7s %lx %*s %*u %n", &Start, &Stop, Permissions, &Offset, &NameOffset) <
            4)
            continue;
        Region.Start = Start;
        Region.End = Stop;
        Region.Offset = Offset;
        Region.Read = Permissions[0] == 'r';
        Region.Write = Permissions[1] == 'w';
        Region.Execute = Permissions[2] == 'x';
        if (NameOffset > 0)
            Region.Name = DropDeletedSuffix(Line.substr(static_cast<size_t>(NameOffset)));
        Regions.push_back(std::move(Region));
    }
    return Regions;
}

size_t ReadProcessBytes(pid_t ProcessId, uint64_t Address, void* Buffer, size_t Size)
{
    const pid_t Process = ProcessId ? ProcessId : getpid();
    size_t Done = 0;
    while (Done < Size)
    {
        iovec Local = {static_cast<char*>(Buffer) + Done, Size - Done};
        iovec Remote = {reinterpret_cast<void*>(Address + Done), Size - Done};
        const ssize_t Read = process_vm_readv(Process, &Local, 1, &Remote, 1, 0);
        if (Read < 0 && errno == EINTR)
            continue;
        if (Read <= 0)
        {
            if (Read == 0)
                errno = EFAULT;
            break;
        }
        Done += static_cast<size_t>(Read);
    }
    return Done;
}

std::vector<pid_t> ListThreads(pid_t ProcessId)
{
    std::vector<pid_t> Threads;
    if (DIR* Directory = opendir(ProcPath(ProcessId, 0, "task").c_str()))
    {
        while (const dirent* Entry = readdir(Directory))
            if (Entry->d_name[0] >= '0' && Entry->d_name[0] <= '9')
                Threads.push_back(static_cast<pid_t>(std::atoi(Entry->d_name)));
        closedir(Directory);
    }
    return Threads;
}

bool ReadStatusField(pid_t ProcessId, pid_t ThreadId, const char* Name, std::string& Value)
{
    FILE* Status = std::fopen(ProcPath(ProcessId, ThreadId, "status").c_str(), "re");
    if (!Status)
        return false;
    bool Found = false;
    char Line[512];
    const size_t Length = std::strlen(Name);
    while (!Found && std::fgets(Line, sizeof Line, Status))
        if (std::strncmp(Line, Name, Length) == 0 && Line[Length] == ':')
        {
            const char* Text = Line + Length + 1;
            while (*Text == ' ' || *Text == '\t')
                ++Text;
            Value.assign(Text, std::strcspn(Text, "\n"));
            Found = true;
        }
    std::fclose(Status);
    return Found;
}

long ReadStatusNumber(pid_t ProcessId, const char* Name)
{
    std::string Value;
    if (!ReadStatusField(ProcessId, 0, Name, Value))
        return -1;
    return std::strtol(Value.c_str(), nullptr, 10);
}

std::string ReadExecutablePath(pid_t ProcessId)
{
    char Path[4096];
    const ssize_t Length = readlink(ProcPath(ProcessId, 0, "exe").c_str(), Path, sizeof Path);
    if (Length <= 0 || static_cast<size_t>(Length) >= sizeof Path)
        return {};
    return DropDeletedSuffix(std::string(Path, static_cast<size_t>(Length)));
}

bool FindPopulatedPages(pid_t ProcessId, uint64_t Start, uint64_t End, std::vector<AddressRange>& Runs)
{
    const int Fd = open(ProcPath(ProcessId, 0, "pagemap").c_str(), O_RDONLY | O_CLOEXEC);
    if (Fd == -1)
        return false;
    std::vector<uint64_t> Entries(PageMapChunk);
    bool Complete = true;
    for (uint64_t Page = Start / PageSize; Page < (End + PageSize - 1) / PageSize && Complete;)
    {
        const uint64_t Count = std::min<uint64_t>(PageMapChunk, (End + PageSize - 1) / PageSize - Page);
        const ssize_t Read =
            pread(Fd, Entries.data(), Count * sizeof(uint64_t), static_cast<off_t>(Page * sizeof(uint64_t)));
        if (Read < 0 && errno == EINTR)
            continue;
        if (Read <= 0)
        {
            Complete = false;
            break;
        }
        const size_t Got = static_cast<size_t>(Read) / sizeof(uint64_t);
        for (size_t Index = 0; Index < Got; ++Index)
        {
            if (!(Entries[Index] & (PagePresent | PageSwapped)))
                continue;
            const uint64_t Address = (Page + Index) * PageSize;
            if (!Runs.empty() && Runs.back().End == Address)
                Runs.back().End += PageSize;
            else
                Runs.push_back({Address, Address + PageSize});
        }
        Page += Got;
    }
    close(Fd);
    return Complete;
}

} // namespace Platform

// What /proc tells about a process: its memory map, its memory, its threads,
// its status fields and which of its pages hold data. The debugger, the
// symbol handler and the minidump writer all read processes through here.
#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace Platform {

struct MemoryRegion
{
    uint64_t Start = 0;
    uint64_t End = 0;
    bool Read = false;
    bool Write = false;
    bool Execute = false;
    uint64_t Offset = 0;
    std::string Name; // a path, a "[name]", or empty
};

struct AddressRange
{
    uint64_t Start = 0;
    uint64_t End = 0;
};

// Process id 0 stands for this process in every function below.

// The regions of /proc/<pid>/maps, and the file's text when asked. A file
// that was deleted or replaced while mapped keeps the name it was mapped by.
std::vector<MemoryRegion> ReadMemoryMap(pid_t ProcessId, std::string* Text = nullptr);

// Reads memory of a process: the bytes read, up to the first unreadable one
// (errno tells why when fewer than Size).
size_t ReadProcessBytes(pid_t ProcessId, uint64_t Address, void* Buffer, size_t Size);

// The ids of the process's threads.
std::vector<pid_t> ListThreads(pid_t ProcessId);

// The text after "Name:" of a line of /proc/<pid>/status, or of the
// thread's own status file when ThreadId is not 0; false when there is none.
bool ReadStatusField(pid_t ProcessId, pid_t ThreadId, const char* Name, std::string& Value);
// The same field read as a decimal number; -1 when there is none.
long ReadStatusNumber(pid_t ProcessId, const char* Name);

// A whole file of /proc/<pid>/ ("cmdline", "auxv", ...); empty when unreadable.
std::string ReadProcessFile(pid_t ProcessId, const char* Name);

// The path of the process's executable, as it was started; empty when unknown.
std::string ReadExecutablePath(pid_t ProcessId);

// Appends the page runs of [Start, End) that hold data, that is pages that
// are present or swapped out (/proc/<pid>/pagemap): pages never touched are
// left out. Runs that continue the last one extend it. False when the page
// map cannot be read.
bool FindPopulatedPages(pid_t ProcessId, uint64_t Start, uint64_t End, std::vector<AddressRange>& Runs);

// The suffix that /proc gives names of files deleted or replaced since.
inline constexpr const char DeletedSuffix[] = " (deleted)";

} // namespace Platform

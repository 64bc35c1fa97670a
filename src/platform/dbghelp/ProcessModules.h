// A process's memory map and the ELF images mapped into it, as the symbol
// handler and the minidump writer see them.
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

// The regions of /proc/<pid>/maps, and its text when asked.
std::vector<MemoryRegion> ReadMemoryMap(pid_t ProcessId, std::string* Text = nullptr);

struct ModuleImage
{
    uint64_t Base = 0; // where its ELF header is mapped
    uint64_t Size = 0; // to the end of its last mapping
    std::string Path;
    std::vector<uint8_t> BuildId; // the GNU build id, when it has one
};

// The ELF images among the regions, in address order.
std::vector<ModuleImage> FindModules(pid_t ProcessId, const std::vector<MemoryRegion>& Regions);

// Reads memory of another process; the bytes read (0 on failure).
size_t ReadProcessBytes(pid_t ProcessId, uint64_t Address, void* Buffer, size_t Size);

} // namespace Platform

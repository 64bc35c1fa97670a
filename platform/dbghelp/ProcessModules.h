// The ELF images mapped into a process, as the symbol handler and the
// minidump writer see them.
#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

#include "Ptrace/ProcessReader.h"

namespace Platform {

struct ModuleImage
{
    uint64_t Base = 0; // where its ELF header is mapped
    uint64_t Size = 0; // to the end of its last mapping
    std::string Path;
    std::vector<uint8_t> BuildId; // the GNU build id, when it has one
};

// The ELF images among the regions, in address order.
std::vector<ModuleImage> FindModules(pid_t ProcessId, const std::vector<MemoryRegion>& Regions);

} // namespace Platform

// Leaves the calling process little room to grow, for a child of a death
// test that checks how a failed allocation is reported.
#pragma once

#include <cstdio>

#include <sys/resource.h>
#include <unistd.h>

namespace Testing {

// The address-space limit becomes what the process uses now plus Room bytes.
inline bool LimitAddressSpace(size_t Room)
{
    std::FILE* Statm = std::fopen("/proc/self/statm", "r");
    unsigned long Pages = 0;
    const bool Read = Statm && std::fscanf(Statm, "%lu", &Pages) == 1;
    if (Statm)
        std::fclose(Statm);
    if (!Read)
        return false;
    const rlim_t Limit = static_cast<rlim_t>(Pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + Room;
    const rlimit Value = {Limit, Limit};
    return setrlimit(RLIMIT_AS, &Value) == 0;
}

} // namespace Testing

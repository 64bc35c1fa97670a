// The modules of a process, from its maps and its ELF images.

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include <windows.h>

#include <dbghelp.h>

#include "dbghelp/ProcessModules.h"

TEST(ProcessModules, ImagesCarryTheirBuildIds)
{
    const auto Modules = Platform::FindModules(getpid(), Platform::ReadMemoryMap(getpid()));
    ASSERT_FALSE(Modules.empty());
    // The executable comes first (it is mapped lowest) with a GNU build id.
    EXPECT_EQ(Modules[0].Base, reinterpret_cast<uint64_t>(GetModuleHandleW(nullptr)));
    EXPECT_EQ(Modules[0].BuildId.size(), 20u);
    for (const auto& Module : Modules)
    {
        EXPECT_EQ(Module.Path[0], '/');
        EXPECT_GT(Module.Size, 0u);
    }
}

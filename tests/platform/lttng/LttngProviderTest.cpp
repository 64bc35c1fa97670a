// The LTTng provider library, as a loader finds it: beside the executable,
// with its table of two functions behind the one exported entry. Loaded in a
// child process, so that LTTng's threads and its memory stay out of this one.

#include <dlfcn.h>
#include <filesystem>
#include <string>
#include <unistd.h>

#include <gtest/gtest.h>

#include "Lttng/LttngProviderApi.h"

namespace {

std::string BesideTheExecutable(const char* Name)
{
    return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / Name).string();
}

} // namespace

TEST(LttngProviderDeathTest, TheLibraryHandsOverItsTable)
{
    const std::string Path = BesideTheExecutable(OSTREL_LTTNG_LIBRARY_NAME);
    if (!std::filesystem::exists(Path))
        GTEST_SKIP() << "built without LTTng-UST: no " << Path;
    testing::FLAGS_gtest_death_test_style = "threadsafe";
    EXPECT_EXIT(
        {
            void* Library = dlopen(Path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
            auto GetApi =
                Library
                    ? reinterpret_cast<OstrelLttngGetProviderApiFunction>(dlsym(Library, OSTREL_LTTNG_PROVIDER_ENTRY))
                    : nullptr;
            const OstrelLttngProviderApi* Api = GetApi ? GetApi() : nullptr;
            const bool Loaded =
                Api && Api->Version == OSTREL_LTTNG_PROVIDER_API_VERSION && Api->IsMessageEnabled && Api->WriteMessage;
            if (Loaded)
            {
                // With or without a session, a message goes out or nowhere.
                const int Enabled = Api->IsMessageEnabled();
                Api->WriteMessage("LttngProviderTest.cpp", 1, "TestBody", "a message");
                _exit(Enabled == 0 || Enabled == 1 ? 0 : 2);
            }
            _exit(1);
        },
        testing::ExitedWithCode(0), "");
}

// The LTTng provider library, as the event provider loads it: beside the
// executable, with its table of two functions. Loaded in a child process, so
// that LTTng's threads and its memory stay out of this one.

#include <filesystem>
#include <string>
#include <unistd.h>

#include <gtest/gtest.h>

#include "etw/EventProviderInternal.h"

namespace {

std::string BesideTheExecutable(const char* Name)
{
    return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / Name).string();
}

} // namespace

TEST(LttngProviderDeathTest, TheLibraryHandsOverItsTable)
{
    const std::string Path = BesideTheExecutable(Platform::Etw::LttngProviderLibraryName);
    if (!std::filesystem::exists(Path))
        GTEST_SKIP() << "built without LTTng-UST: no " << Path;
    testing::FLAGS_gtest_death_test_style = "threadsafe";
    EXPECT_EXIT(
        {
            const OstrelLttngProviderApi* Api = nullptr;
            const bool Loaded = Platform::Etw::LoadLttngProvider(Path.c_str(), Api) == ERROR_SUCCESS && Api &&
                                Api->Version == OSTREL_LTTNG_PROVIDER_API_VERSION && Api->IsMessageEnabled &&
                                Api->WriteMessage;
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

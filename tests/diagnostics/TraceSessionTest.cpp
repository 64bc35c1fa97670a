// The tool's trace provider as a tracing session sees it. The session is
// the event provider's stand-in for the LTTng provider library, the one
// place where a test of the tool reaches behind the platform's SDK names.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "diagnostics/Check.h"
#include "diagnostics/TraceProvider.h"
#include "support/DebugOutputCapture.h"

#include "etw/EventProviderInternal.h"

namespace {

// A session always listens, and the messages written are kept.
std::vector<std::string> Written;
const OstrelLttngProviderApi ListeningSession = {OSTREL_LTTNG_PROVIDER_API_VERSION, [] { return 1; },
                                                 [](const char*, uint32_t, const char* Function, const char* Text) {
                                                     Written.push_back(std::string(Function) + ": " + Text);
                                                 }};

void TraceAtLevel(UCHAR Level)
{
    TraceProviderEnableCallback(nullptr, EVENT_CONTROL_CODE_ENABLE_PROVIDER, Level, 0, 0, nullptr, &g_TraceProvider);
    TRACE(L"at level %d\n", Level);
}

} // namespace

TEST(TraceProvider, TheEventGoesOnlyToSessionsThatTakeVerboseEvents)
{
    Platform::Etw::OverrideLttngProviderForTesting(&ListeningSession);
    Written.clear();
    RegisterTraceProvider();
    {
        DebugOutputCapture Capture; // the lines themselves go to the debugger channel only
        TraceAtLevel(3);            // warnings
        TraceAtLevel(4);            // information
        EXPECT_TRUE(Written.empty());
        TraceAtLevel(5); // verbose
        TraceAtLevel(0); // every level
    }
    UnregisterTraceProvider();
    Platform::Etw::OverrideLttngProviderForTesting(nullptr);
    ASSERT_EQ(Written.size(), 2u);
    EXPECT_EQ(Written[0], "TraceAtLevel: at level 5\n");
    EXPECT_EQ(Written[1], "TraceAtLevel: at level 0\n");
}

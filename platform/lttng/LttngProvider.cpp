// libostrel-lttng.so: defines the tracepoint provider and probes, and hands
// the tool a table of two functions. Everything else stays hidden.
#define LTTNG_UST_TRACEPOINT_CREATE_PROBES
#define LTTNG_UST_TRACEPOINT_DEFINE
#include "LttngTracepoint.h"

#include "Lttng/LttngProviderApi.h"

namespace {
int IsMessageEnabled() { return lttng_ust_tracepoint_enabled(OstrelTraceLoggingProvider, Message) ? 1 : 0; }

void WriteMessage(const char* SourceFile, uint32_t SourceLine, const char* SourceFunction, const char* Text)
{
    lttng_ust_tracepoint(OstrelTraceLoggingProvider, Message, SourceFile, SourceLine, SourceFunction, Text);
}

constexpr OstrelLttngProviderApi Api = {OSTREL_LTTNG_PROVIDER_API_VERSION, IsMessageEnabled, WriteMessage};
} // namespace

extern "C" __attribute__((visibility("default"))) const OstrelLttngProviderApi* OstrelLttngGetProviderApi()
{
    return &Api;
}

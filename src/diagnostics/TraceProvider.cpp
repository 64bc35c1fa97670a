#include "TraceProvider.h"

#include <cstring>

// The metadata stays in the image, where tools that read the image find it:
// GCC and Clang are told to keep it; the Microsoft linker keeps what the
// provider refers to.
#if defined(_MSC_VER) && !defined(__clang__)
#define TRACE_METADATA_KEPT
#else
#define TRACE_METADATA_KEPT __attribute__((used))
#endif

// The GUID is the one derived from the provider's name by the TraceLogging
// naming rule, so that tools that know only the name find it.
TRACE_METADATA_KEPT const TraceLoggingMetadata g_TraceLoggingMetadata = {
    {{'E', 'T', 'W', '0'}, 16, 0, 1, 0xBB8A052B88040E86ull},
    {4,
     {0xb27b8c26, 0x18db, 0x5314, {0x91, 0x21, 0x63, 0x05, 0x84, 0xfb, 0xc4, 0x3c}},
     2 + sizeof "OstrelTraceLoggingProvider",
     "OstrelTraceLoggingProvider"},
    {6, 11, TraceEventLevel, 0, 0, 58, 0, "Message", "SourceFile", 2, // NUL-terminated ANSI string
     "SourceLine", 8,                                                 // unsigned 32-bit integer
     "SourceFunction", 2,                                             // NUL-terminated ANSI string
     "TextA", 1},                                                     // NUL-terminated wide string
};

static_assert(sizeof g_TraceLoggingMetadata.Header == 16);
static_assert(sizeof g_TraceLoggingMetadata.Event - offsetof(decltype(g_TraceLoggingMetadata.Event), Size) == 58);

TraceProvider g_TraceProvider = {{0}, &g_TraceLoggingMetadata.Provider.TraitsSize, 0, 0, 0, nullptr, nullptr};

const void* TraceEventMetadata() { return &g_TraceLoggingMetadata.Event.Size; }

void TraceProviderEnableCallback(LPCGUID SourceId, ULONG ControlCode, UCHAR Level, ULONGLONG MatchAnyKeyword,
                                 ULONGLONG MatchAllKeyword, PEVENT_FILTER_DESCRIPTOR FilterData, PVOID Context)
{
    auto* Provider = static_cast<TraceProvider*>(Context);
    if (!Provider)
        return;
    if (ControlCode == EVENT_CONTROL_CODE_DISABLE_PROVIDER)
        Provider->m_LevelPlusOne = 0;
    else if (ControlCode == EVENT_CONTROL_CODE_ENABLE_PROVIDER)
    {
        const uint8_t LowLevel = Level & 0xFF;
        Provider->m_LevelPlusOne = LowLevel != 0 ? LowLevel + 1u : 256u;
        Provider->m_KeywordAny = MatchAnyKeyword;
        Provider->m_KeywordAll = MatchAllKeyword;
    }
    if (Provider->m_EnableCallback)
        Provider->m_EnableCallback(SourceId, ControlCode, Level, MatchAnyKeyword, MatchAllKeyword, FilterData,
                                   Provider->m_CallbackContext);
}

void RegisterTraceProvider()
{
    TraceProvider& Provider = g_TraceProvider;
    GUID Id;
    std::memcpy(&Id, static_cast<const uint8_t*>(Provider.m_ProviderTraits) - sizeof(GUID), sizeof Id);
    Provider.m_EnableCallback = nullptr;
    Provider.m_CallbackContext = nullptr;
    if (EventRegister(&Id, TraceProviderEnableCallback, &Provider, &Provider.m_RegHandle) == ERROR_SUCCESS)
    {
        uint16_t TraitsSize;
        std::memcpy(&TraitsSize, Provider.m_ProviderTraits, sizeof TraitsSize);
        EventSetInformation(Provider.m_RegHandle, EventProviderSetTraits, const_cast<void*>(Provider.m_ProviderTraits),
                            TraitsSize);
    }
}

void UnregisterTraceProvider()
{
    EventUnregister(g_TraceProvider.m_RegHandle);
    g_TraceProvider.m_RegHandle = 0;
    g_TraceProvider.m_LevelPlusOne = 0;
}

// The tool's event-tracing provider "OstrelTraceLoggingProvider", with its
// self-describing metadata, and its registration.
#pragma once

#include <atomic>
#include <cstdint>

#include <windows.h>

#include <evntprov.h>

struct TraceProvider
{
    // 0 while no session listens; else the enabled level + 1 (level 0, every
    // level, is stored as 256).
    std::atomic<uint32_t> m_LevelPlusOne;
    const void* m_ProviderTraits;
    uint64_t m_KeywordAny;
    uint64_t m_KeywordAll;
    REGHANDLE m_RegHandle;
    PENABLECALLBACK m_EnableCallback;
    void* m_CallbackContext;
};

extern TraceProvider g_TraceProvider;

// The event's level: verbose.
constexpr uint8_t TraceEventLevel = 5;

// The TraceLogging metadata as the image keeps it: the area header, the
// provider record (type, GUID, traits) and the event record (type, channel,
// level, opcode, keyword, event metadata).
#pragma pack(push, 1)
struct TraceLoggingMetadata
{
    struct
    {
        char Signature[4];
        uint16_t Size;
        uint8_t Version;
        uint8_t Flags;
        uint64_t Magic;
    } Header;
    struct
    {
        uint8_t Type;
        GUID Id;
        uint16_t TraitsSize;
        char Name[sizeof "OstrelTraceLoggingProvider"];
    } Provider;
    struct
    {
        uint8_t Type;
        uint8_t Channel;
        uint8_t Level;
        uint8_t Opcode;
        uint64_t Keyword;
        uint16_t Size;
        uint8_t Tags;
        char Name[sizeof "Message"];
        char SourceFileName[sizeof "SourceFile"];
        uint8_t SourceFileType;
        char SourceLineName[sizeof "SourceLine"];
        uint8_t SourceLineType;
        char SourceFunctionName[sizeof "SourceFunction"];
        uint8_t SourceFunctionType;
        char TextName[sizeof "TextA"];
        uint8_t TextType;
    } Event;
};
#pragma pack(pop)

extern const TraceLoggingMetadata g_TraceLoggingMetadata;

// The event metadata blob, from its size field: the second data descriptor.
const void* TraceEventMetadata();

void TraceProviderEnableCallback(LPCGUID SourceId, ULONG ControlCode, UCHAR Level, ULONGLONG MatchAnyKeyword,
                                 ULONGLONG MatchAllKeyword, PEVENT_FILTER_DESCRIPTOR FilterData, PVOID Context);

// Registration failures are ignored: no session can then enable the provider.
void RegisterTraceProvider();
void UnregisterTraceProvider();

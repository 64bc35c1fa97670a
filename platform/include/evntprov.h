// Event Tracing provider interface: registration, traits and self-describing
// (TraceLogging) events.
#pragma once

#include <minwindef.h>

typedef ULONGLONG REGHANDLE;
typedef REGHANDLE* PREGHANDLE;

struct EVENT_DESCRIPTOR
{
    USHORT Id;
    UCHAR Version;
    UCHAR Channel;
    UCHAR Level;
    UCHAR Opcode;
    USHORT Task;
    ULONGLONG Keyword;
};
typedef const EVENT_DESCRIPTOR* PCEVENT_DESCRIPTOR;

struct EVENT_DATA_DESCRIPTOR
{
    ULONGLONG Ptr;
    ULONG Size;
    union
    {
        ULONG Reserved;
        struct
        {
            UCHAR Type;
            UCHAR Reserved1;
            USHORT Reserved2;
        };
    };
};
typedef EVENT_DATA_DESCRIPTOR* PEVENT_DATA_DESCRIPTOR;

constexpr UCHAR EVENT_DATA_DESCRIPTOR_TYPE_NONE = 0;
constexpr UCHAR EVENT_DATA_DESCRIPTOR_TYPE_EVENT_METADATA = 1;
constexpr UCHAR EVENT_DATA_DESCRIPTOR_TYPE_PROVIDER_METADATA = 2;

inline void EventDataDescCreate(PEVENT_DATA_DESCRIPTOR Descriptor, const void* Data, ULONG Size)
{
    Descriptor->Ptr = reinterpret_cast<ULONG_PTR>(Data);
    Descriptor->Size = Size;
    Descriptor->Reserved = 0;
}

struct EVENT_FILTER_DESCRIPTOR
{
    ULONGLONG Ptr;
    ULONG Size;
    ULONG Type;
};
typedef EVENT_FILTER_DESCRIPTOR* PEVENT_FILTER_DESCRIPTOR;

constexpr ULONG EVENT_CONTROL_CODE_DISABLE_PROVIDER = 0;
constexpr ULONG EVENT_CONTROL_CODE_ENABLE_PROVIDER = 1;
constexpr ULONG EVENT_CONTROL_CODE_CAPTURE_STATE = 2;

typedef void (*PENABLECALLBACK)(LPCGUID SourceId, ULONG IsEnabled, UCHAR Level, ULONGLONG MatchAnyKeyword,
                                ULONGLONG MatchAllKeyword, PEVENT_FILTER_DESCRIPTOR FilterData, PVOID CallbackContext);

enum EVENT_INFO_CLASS
{
    EventProviderBinaryTrackInfo = 0,
    EventProviderSetReserved1 = 1,
    EventProviderSetTraits = 2,
    EventProviderUseDescriptorType = 3,
};

// Registers a provider. The enable callback is called with
// EVENT_CONTROL_CODE_ENABLE_PROVIDER and the session's level when a tracing
// session starts listening, and with EVENT_CONTROL_CODE_DISABLE_PROVIDER when
// it stops. Returns ERROR_SUCCESS or a Win32 error (no tracing on the system).
ULONG EventRegister(LPCGUID ProviderId, PENABLECALLBACK EnableCallback, PVOID CallbackContext, PREGHANDLE RegHandle);
ULONG EventSetInformation(REGHANDLE RegHandle, EVENT_INFO_CLASS InformationClass, PVOID EventInformation,
                          ULONG InformationLength);
// Writes one self-describing event: descriptor 0 holds the provider traits,
// descriptor 1 the event metadata, the rest the field values in order.
ULONG EventWriteTransfer(REGHANDLE RegHandle, PCEVENT_DESCRIPTOR EventDescriptor, LPCGUID ActivityId,
                         LPCGUID RelatedActivityId, ULONG UserDataCount, PEVENT_DATA_DESCRIPTOR UserData);
ULONG EventUnregister(REGHANDLE RegHandle);

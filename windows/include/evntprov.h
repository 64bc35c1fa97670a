// mingw-w64 10's evntprov.h, with what newer SDKs added: the Type field of
// EVENT_DATA_DESCRIPTOR, which marks the TraceLogging metadata blocks, the
// information classes up to EventProviderSetTraits, and the enable callback's
// control codes. mingw-w64's own structure, enumeration and the functions
// that take them are renamed away, then declared again.
#pragma once

#define _EVENT_DATA_DESCRIPTOR MingwEventDataDescriptor
#define EVENT_DATA_DESCRIPTOR MingwEVENT_DATA_DESCRIPTOR
#define PEVENT_DATA_DESCRIPTOR MingwPEVENT_DATA_DESCRIPTOR
#define EventWrite MingwEventWrite
#define EventWriteTransfer MingwEventWriteTransfer
#define EventWriteEx MingwEventWriteEx
#define EventDataDescCreate MingwEventDataDescCreate
#define _EVENT_INFO_CLASS MingwEventInfoClass
#define EVENT_INFO_CLASS MingwEVENT_INFO_CLASS
#define EventProviderBinaryTrackInfo MingwEventProviderBinaryTrackInfo
#define MaxEventInfo MingwMaxEventInfo
#define EventSetInformation MingwEventSetInformation
#include_next <evntprov.h>
#undef _EVENT_DATA_DESCRIPTOR
#undef EVENT_DATA_DESCRIPTOR
#undef PEVENT_DATA_DESCRIPTOR
#undef EventWrite
#undef EventWriteTransfer
#undef EventWriteEx
#undef EventDataDescCreate
#undef _EVENT_INFO_CLASS
#undef EVENT_INFO_CLASS
#undef EventProviderBinaryTrackInfo
#undef MaxEventInfo
#undef EventSetInformation

#ifndef EVENT_CONTROL_CODE_DISABLE_PROVIDER
#define EVENT_CONTROL_CODE_DISABLE_PROVIDER 0
#define EVENT_CONTROL_CODE_ENABLE_PROVIDER 1
#define EVENT_CONTROL_CODE_CAPTURE_STATE 2
#endif

typedef enum _EVENT_INFO_CLASS
{
    EventProviderBinaryTrackInfo,
    EventProviderSetReserved1,
    EventProviderSetTraits,
    EventProviderUseDescriptorType,
    MaxEventInfo
} EVENT_INFO_CLASS;

#define EVENT_DATA_DESCRIPTOR_TYPE_NONE 0
#define EVENT_DATA_DESCRIPTOR_TYPE_EVENT_METADATA 1
#define EVENT_DATA_DESCRIPTOR_TYPE_PROVIDER_METADATA 2
#define EVENT_DATA_DESCRIPTOR_TYPE_TIMESTAMP_OVERRIDE 3

typedef struct _EVENT_DATA_DESCRIPTOR
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
} EVENT_DATA_DESCRIPTOR, *PEVENT_DATA_DESCRIPTOR;

extern "C" {
ULONG EVNTAPI EventWrite(REGHANDLE RegHandle, PCEVENT_DESCRIPTOR EventDescriptor, ULONG UserDataCount,
                         PEVENT_DATA_DESCRIPTOR UserData);
ULONG EVNTAPI EventWriteTransfer(REGHANDLE RegHandle, PCEVENT_DESCRIPTOR EventDescriptor, LPCGUID ActivityId,
                                 LPCGUID RelatedActivityId, ULONG UserDataCount, PEVENT_DATA_DESCRIPTOR UserData);
ULONG EVNTAPI EventSetInformation(REGHANDLE RegHandle, EVENT_INFO_CLASS InformationClass, PVOID EventInformation,
                                  ULONG InformationLength);
}

FORCEINLINE VOID EventDataDescCreate(PEVENT_DATA_DESCRIPTOR Descriptor, const VOID* Data, ULONG Size)
{
    Descriptor->Ptr = (ULONGLONG)(ULONG_PTR)Data;
    Descriptor->Size = Size;
    Descriptor->Reserved = 0;
}

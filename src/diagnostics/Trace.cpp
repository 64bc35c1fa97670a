#include "Trace.h"

#include <cstdarg>
#include <cstring>
#include <cwchar>

#include <evntprov.h>

#include "Check.h"
#include "TraceProvider.h"

namespace {

constexpr size_t TraceBufferSize = 8192;
constexpr size_t FormatWBufferSize = 4096;

constexpr EVENT_DESCRIPTOR MessageEventDescriptor = {0, 0, 11, TraceEventLevel, 0, 0, 0};

void WriteMessageEvent(const TraceLocation& Location, const wchar_t* Message)
{
    const char* SourceName = TraceSourceName(Location);
    const char* Function = Location.m_Function ? Location.m_Function : "";
    if (!SourceName)
        SourceName = "";
    uint16_t TraitsSize;
    std::memcpy(&TraitsSize, g_TraceProvider.m_ProviderTraits, sizeof TraitsSize);

    EVENT_DATA_DESCRIPTOR Data[6];
    EventDataDescCreate(&Data[0], g_TraceProvider.m_ProviderTraits, TraitsSize);
    Data[0].Type = EVENT_DATA_DESCRIPTOR_TYPE_PROVIDER_METADATA;
    EventDataDescCreate(&Data[1], TraceEventMetadata(), 58);
    Data[1].Type = EVENT_DATA_DESCRIPTOR_TYPE_EVENT_METADATA;
    EventDataDescCreate(&Data[2], SourceName, static_cast<ULONG>(strlen(SourceName) + 1));
    EventDataDescCreate(&Data[3], &Location.m_Line, sizeof Location.m_Line);
    EventDataDescCreate(&Data[4], Function, static_cast<ULONG>(strlen(Function) + 1));
    EventDataDescCreate(&Data[5], Message, static_cast<ULONG>((wcslen(Message) + 1) * sizeof(wchar_t)));
    EventWriteTransfer(g_TraceProvider.m_RegHandle, &MessageEventDescriptor, nullptr, nullptr, 6, Data);
}

} // namespace

const char* TraceSourceName(const TraceLocation& Location)
{
    const char* Name = Location.m_File;
    if (!Name || Location.m_FullPath)
        return Name;
    for (const char* Cursor = Name; *Cursor; ++Cursor)
        if (*Cursor == '/' || *Cursor == '\\')
            Name = Cursor + 1;
    return Name;
}

void Trace(const TraceLocation& Location, const wchar_t* Format, ...)
{
    wchar_t Message[TraceBufferSize];
    va_list Arguments;
    va_start(Arguments, Format);
    _vsnwprintf_s(Message, TraceBufferSize, _TRUNCATE, Format, Arguments);
    va_end(Arguments);

    wchar_t Line[TraceBufferSize];
    _snwprintf_s(Line, TraceBufferSize, _TRUNCATE, L"%hs(%d): %hs: ", TraceSourceName(Location), Location.m_Line,
                 Location.m_Function);
    wcsncat_s(Line, TraceBufferSize, Message, _TRUNCATE);
    OutputDebugStringW(Line);

    if (g_TraceProvider.m_LevelPlusOne.load(std::memory_order_relaxed) > TraceEventLevel)
        WriteMessageEvent(Location, Message);
}

std::wstring FormatW(const wchar_t* Format, ...)
{
    wchar_t Buffer[FormatWBufferSize];
    va_list Arguments;
    va_start(Arguments, Format);
    _vsnwprintf_s(Buffer, FormatWBufferSize, _TRUNCATE, Format, Arguments);
    va_end(Arguments);
    return Buffer;
}

namespace {

void TraceFailure(const TraceLocation& Location, HRESULT Result, const char* Expression)
{
    Trace(Location, L"Throwing an exception, 0x%08X, expression %hs\n", Result, Expression);
}

} // namespace

void ThrowFailure(const TraceLocation& Location, HRESULT Result, const char* Expression)
{
    TraceFailure(Location, Result, Expression);
    throw ComException(Result);
}

void ThrowBareFailure(const TraceLocation& Location, HRESULT Result, const char* Expression)
{
    TraceFailure(Location, Result, Expression);
    throw static_cast<long>(Result);
}

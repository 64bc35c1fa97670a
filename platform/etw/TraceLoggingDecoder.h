// Reading of self-describing (TraceLogging) events as EventWriteTransfer
// receives them: the provider traits blob, the event metadata blob and the
// field values that follow, one data descriptor per field.
//
// Everything here works on caller memory without allocating: the hot path
// decodes on the stack. Every size is checked; malformed input gives
// ERROR_INVALID_PARAMETER, well-formed input that this platform cannot carry
// gives ERROR_NOT_SUPPORTED.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include <evntprov.h>

namespace Platform::Etw {
// Input types of TraceLogging fields (the low five bits of the type byte).
enum TraceLoggingInType : uint8_t
{
    InTypeNull = 0,
    InTypeUnicodeString = 1, // NUL-terminated wide text (wchar_t here)
    InTypeAnsiString = 2,    // NUL-terminated 8-bit text
    InTypeInt8 = 3,
    InTypeUInt8 = 4,
    InTypeInt16 = 5,
    InTypeUInt16 = 6,
    InTypeInt32 = 7,
    InTypeUInt32 = 8,
    InTypeInt64 = 9,
    InTypeUInt64 = 10,
    InTypeFloat = 11,
    InTypeDouble = 12,
    InTypeBool32 = 13,
    InTypeBinary = 14,
    InTypeGuid = 15,
    InTypePointerUnsupported = 16,
    InTypeFileTime = 17,
    InTypeSystemTime = 18,
    InTypeSid = 19,
    InTypeHexInt32 = 20,
    InTypeHexInt64 = 21,
    InTypeCountedString = 22,
    InTypeCountedAnsiString = 23,
    InTypeStruct = 24,
    InTypeCountedBinary = 25,
};

// The most fields one event can describe: the value descriptors and the two
// metadata descriptors must fit the 128 descriptors a write may pass.
constexpr size_t MaxTraceLoggingFields = 126;

struct TraceLoggingField
{
    std::string_view Name;
    uint8_t InType = InTypeNull; // without the chain and array flags
};

struct TraceLoggingEventMetadata
{
    std::string_view Name;
    size_t FieldCount = 0;
    TraceLoggingField Fields[MaxTraceLoggingFields];
};

// Provider traits: 16-bit total size, NUL-terminated UTF-8 name, then trait
// chunks (16-bit size including itself, one type byte, data).
DWORD DecodeProviderTraits(const void* Data, size_t Size, std::string_view& ProviderName);

// Event metadata: 16-bit total size, tag bytes (chained by the high bit),
// NUL-terminated name, then per field a NUL-terminated name and a type byte,
// optionally followed by an out-type byte and field tags. Fields whose value
// does not travel in exactly one descriptor (arrays, counted or binary data,
// structures) give ERROR_NOT_SUPPORTED.
DWORD DecodeEventMetadata(const void* Data, size_t Size, TraceLoggingEventMetadata& Metadata);

// Converts NUL-terminated wide text (Size bytes of wchar_t, possibly
// unaligned) to NUL-terminated UTF-8 in Buffer. Stops at the first NUL; code
// points that are not Unicode scalar values become U+FFFD. Text that does not
// fit is cut at a character boundary. Returns the bytes written before the
// terminating NUL. Capacity must be at least 1.
size_t WideToUtf8(const void* Wide, size_t Size, char* Buffer, size_t Capacity);

// The fields of the one event this platform carries, Message.
struct TraceMessage
{
    const char* SourceFile = nullptr;
    uint32_t SourceLine = 0;
    const char* SourceFunction = nullptr;
    const char* Text = nullptr;
};

// Room for wide text converted to UTF-8: the longest line the tool writes
// (8,191 wide characters, up to four bytes each) plus the source file and
// function names.
constexpr size_t TraceMessageTextCapacity = 8192 * 4 + 2 * 1024;

// Scratch memory that holds converted text; lives on the writer's stack.
struct TraceMessageBuffer
{
    char Bytes[TraceMessageTextCapacity];
};

// Decodes the descriptors passed to EventWriteTransfer into Message: the
// traits and metadata blobs must be well formed, the descriptor count must
// match the fields, each value must have its type's size (strings: a NUL
// within it). The event must be called "Message" and have string fields
// SourceFile, SourceFunction, TextA (wide or 8-bit) and the 32-bit unsigned
// field SourceLine; other fields are checked and ignored. Wide text is
// converted into Buffer, 8-bit text is pointed at where it lies.
DWORD DecodeTraceMessage(ULONG UserDataCount, const EVENT_DATA_DESCRIPTOR* UserData, TraceMessageBuffer& Buffer,
                         TraceMessage& Message);
} // namespace Platform::Etw

// Builders for the blobs and data descriptors EventWriteTransfer receives.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include <evntprov.h>

namespace Platform::Etw::Test {
using Blob = std::vector<uint8_t>;

// Body prefixed with its 16-bit size, that size included.
inline Blob Sized(Blob Body)
{
    const auto Size = static_cast<uint16_t>(Body.size() + 2);
    Body.insert(Body.begin(), {static_cast<uint8_t>(Size), static_cast<uint8_t>(Size >> 8)});
    return Body;
}

inline Blob Ansi(std::string_view Text)
{
    Blob Bytes(Text.begin(), Text.end());
    Bytes.push_back(0);
    return Bytes;
}

inline Blob Wide(std::wstring_view Text)
{
    Blob Bytes((Text.size() + 1) * sizeof(wchar_t), 0);
    std::memcpy(Bytes.data(), Text.data(), Text.size() * sizeof(wchar_t));
    return Bytes;
}

inline Blob UInt32(uint32_t Value)
{
    Blob Bytes(sizeof(Value));
    std::memcpy(Bytes.data(), &Value, sizeof(Value));
    return Bytes;
}

inline void Append(Blob& To, const Blob& Part) { To.insert(To.end(), Part.begin(), Part.end()); }

// Event metadata from tag bytes, the name, then per field its name and its
// type byte with any out-type and tag bytes.
inline Blob Metadata(std::string_view Name, std::vector<std::pair<std::string_view, Blob>> Fields, Blob Tags = {0})
{
    Blob Body = Tags;
    Append(Body, Ansi(Name));
    for (const auto& [FieldName, Type] : Fields)
    {
        Append(Body, Ansi(FieldName));
        Append(Body, Type);
    }
    return Sized(Body);
}

// The four Message fields with the given type bytes.
inline Blob MessageMetadata(uint8_t File = 2, uint8_t Line = 8, uint8_t Function = 2, uint8_t Text = 1,
                            std::string_view Name = "Message", std::string_view TextName = "TextA")
{
    return Metadata(
        Name, {{"SourceFile", {File}}, {"SourceLine", {Line}}, {"SourceFunction", {Function}}, {TextName, {Text}}});
}

// An event as the trace layer writes it; Descriptors() points into it.
struct EventData
{
    Blob Traits = Sized(Ansi("OstrelTraceLoggingProvider"));
    Blob Meta = MessageMetadata();
    std::vector<Blob> Values;

    std::vector<EVENT_DATA_DESCRIPTOR> Descriptors() const
    {
        std::vector<EVENT_DATA_DESCRIPTOR> Result(2 + Values.size());
        EventDataDescCreate(&Result[0], Traits.data(), static_cast<ULONG>(Traits.size()));
        Result[0].Type = EVENT_DATA_DESCRIPTOR_TYPE_PROVIDER_METADATA;
        EventDataDescCreate(&Result[1], Meta.data(), static_cast<ULONG>(Meta.size()));
        Result[1].Type = EVENT_DATA_DESCRIPTOR_TYPE_EVENT_METADATA;
        for (size_t Index = 0; Index < Values.size(); ++Index)
            EventDataDescCreate(&Result[Index + 2], Values[Index].data(), static_cast<ULONG>(Values[Index].size()));
        return Result;
    }
};

inline EventData Message(std::string_view File, uint32_t Line, std::string_view Function, std::wstring_view Text)
{
    EventData Event;
    Event.Values = {Ansi(File), UInt32(Line), Ansi(Function), Wide(Text)};
    return Event;
}
} // namespace Platform::Etw::Test

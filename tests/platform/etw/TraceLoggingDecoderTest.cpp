#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "etw/TraceLoggingDecoder.h"
#include "TraceLoggingBlobs.h"

using namespace Platform::Etw;
using namespace Platform::Etw::Test;

namespace {
struct Decoded
{
    std::unique_ptr<TraceMessageBuffer> Buffer = std::make_unique<TraceMessageBuffer>();
    TraceMessage Message;
    DWORD Error = ~0u;
};

Decoded Decode(const std::vector<EVENT_DATA_DESCRIPTOR>& Descriptors)
{
    Decoded Result;
    Result.Error =
        DecodeTraceMessage(static_cast<ULONG>(Descriptors.size()), Descriptors.data(), *Result.Buffer, Result.Message);
    return Result;
}

std::string Utf8(std::wstring_view Text, size_t Capacity = 64)
{
    std::string Buffer(Capacity, '?');
    Buffer.resize(WideToUtf8(Wide(Text).data(), (Text.size() + 1) * sizeof(wchar_t), Buffer.data(), Capacity));
    return Buffer;
}
} // namespace

TEST(TraceLoggingDecoder, DecodesMessageFieldsByName)
{
    const EventData Traced = Message("Application.cpp", 84, "Application::Application", L"\u00fc\u20ac\U0001F600\n");
    Decoded Result = Decode(Traced.Descriptors());
    ASSERT_EQ(Result.Error, ERROR_SUCCESS);
    EXPECT_STREQ(Result.Message.SourceFile, "Application.cpp");
    EXPECT_EQ(Result.Message.SourceLine, 84u);
    EXPECT_STREQ(Result.Message.SourceFunction, "Application::Application");
    EXPECT_STREQ(Result.Message.Text, "\xC3\xBC\xE2\x82\xAC\xF0\x9F\x98\x80\n");

    // Chained event tags; an extra field with an out-type and chained tags;
    // another order; wide names; the first field of a name counts.
    EventData Event;
    Event.Meta = Metadata("Message",
                          {{"Elapsed", {0x80 | 10, 0x80 | 9, 0x81, 0x02}},
                           {"TextA", {2}},
                           {"SourceFunction", {1}},
                           {"SourceLine", {0x80 | 8, 0}},
                           {"SourceFile", {1}},
                           {"TextA", {1}}},
                          {0x80, 0x01});
    Event.Values = {Blob(8, 7), Ansi("text"), Wide(L"Run"), UInt32(7), Wide(L"a.cpp"), Wide(L"ignored")};
    Result = Decode(Event.Descriptors());
    ASSERT_EQ(Result.Error, ERROR_SUCCESS);
    EXPECT_STREQ(Result.Message.SourceFile, "a.cpp");
    EXPECT_EQ(Result.Message.SourceLine, 7u);
    EXPECT_STREQ(Result.Message.SourceFunction, "Run");
    EXPECT_STREQ(Result.Message.Text, "text");
}

TEST(TraceLoggingDecoder, RejectsMetadataItCannotRead)
{
    const Blob Good = Message("f", 1, "g", L"t").Meta;
    struct Case
    {
        const char* What;
        Blob Meta;
        DWORD Expected;
    } Cases[] = {
        {"size field off",
         [&] {
             Blob B = Good;
             ++B[0];
             return B;
         }(),
         ERROR_INVALID_PARAMETER},
        {"too short", Blob(Good.begin(), Good.begin() + 3), ERROR_INVALID_PARAMETER},
        {"name without NUL", Sized({0, 'M', 'e'}), ERROR_INVALID_PARAMETER},
        {"field without type", Sized({0, 'M', 0, 'F', 0}), ERROR_INVALID_PARAMETER},
        {"chained type, no out-type", Sized({0, 'M', 0, 'F', 0, 0x88}), ERROR_INVALID_PARAMETER},
        {"endless tags", Sized({0x80, 0x80, 0x80, 0x80, 0x80, 'M', 0}), ERROR_INVALID_PARAMETER},
        {"array", Metadata("Message", {{"SourceFile", {0x40 | 2}}}), ERROR_NOT_SUPPORTED},
        {"structure", Metadata("Message", {{"SourceFile", {0x80 | 24, 1}}}), ERROR_NOT_SUPPORTED},
        {"binary", Metadata("Message", {{"SourceFile", {14}}}), ERROR_NOT_SUPPORTED},
        {"unknown type", Metadata("Message", {{"SourceFile", {30}}}), ERROR_NOT_SUPPORTED},
        {"other event", MessageMetadata(2, 8, 2, 1, "Other"), ERROR_NOT_SUPPORTED},
        {"no TextA", MessageMetadata(2, 8, 2, 1, "Message", "Text"), ERROR_NOT_SUPPORTED},
        // Values of the right size for their type, but the wrong type.
        {"hexadecimal line", MessageMetadata(2, 20), ERROR_NOT_SUPPORTED},
        {"16-bit file", MessageMetadata(6), ERROR_NOT_SUPPORTED},
    };
    for (const Case& Test : Cases)
    {
        EventData Event = Message("f", 1, "g", L"t");
        Event.Meta = Test.Meta;
        EXPECT_EQ(Decode(Event.Descriptors()).Error, Test.Expected) << Test.What;
    }
}

TEST(TraceLoggingDecoder, RejectsBadDescriptors)
{
    const EventData Event = Message("file", 1, "function", L"text");
    const std::pair<const char*, std::function<void(std::vector<EVENT_DATA_DESCRIPTOR>&)>> Cases[] = {
        {"a value missing", [](auto& D) { D.pop_back(); }},
        {"a value too many", [](auto& D) { D.push_back(D.back()); }},
        {"metadata only", [](auto& D) { D.resize(1); }},
        {"metadata types swapped", [](auto& D) { std::swap(D[0].Type, D[1].Type); }},
        {"traits size off", [](auto& D) { D[0].Size -= 1; }},
        {"null metadata", [](auto& D) { D[1].Ptr = 0; }},
        {"8-bit text without NUL", [](auto& D) { D[2].Size -= 1; }},
        {"line of two bytes", [](auto& D) { D[3].Size = 2; }},
        {"null line", [](auto& D) { D[3].Ptr = 0; }},
        {"wide text cut inside a character", [](auto& D) { D[5].Size -= 1; }},
        {"wide text without NUL", [](auto& D) { D[5].Size -= sizeof(wchar_t); }},
    };
    for (const auto& [What, Change] : Cases)
    {
        auto Descriptors = Event.Descriptors();
        Change(Descriptors);
        EXPECT_EQ(Decode(Descriptors).Error, ERROR_INVALID_PARAMETER) << What;
    }
    EventData BadTraits = Event;
    BadTraits.Traits = Sized({'P', 0, 9, 0, 1}); // a trait chunk running past the end
    EXPECT_EQ(Decode(BadTraits.Descriptors()).Error, ERROR_INVALID_PARAMETER);
    TraceMessageBuffer Buffer;
    TraceMessage Result;
    EXPECT_EQ(DecodeTraceMessage(6, nullptr, Buffer, Result), ERROR_INVALID_PARAMETER);
}

TEST(TraceLoggingDecoder, ConvertsWideTextWithinItsRoom)
{
    EXPECT_EQ(Utf8(L"a\u00e9\u20ac\U0010FFFF"), "a\xC3\xA9\xE2\x82\xAC\xF4\x8F\xBF\xBF");
    const wchar_t Invalid[] = {0xD800, L'x', static_cast<wchar_t>(0x110000), 0};
    EXPECT_EQ(Utf8(Invalid), "\xEF\xBF\xBDx\xEF\xBF\xBD");
    EXPECT_EQ(Utf8(std::wstring_view(L"ab\0cd", 5)), "ab");
    EXPECT_EQ(Utf8(L"a\u00e9\u20ac", 6), "a\xC3\xA9"); // cut between characters, NUL kept
    EXPECT_EQ(Utf8(L"a", 1), "");

    // The longest line fits whole; wide names cannot crowd a longer one out.
    const std::wstring Longest(8191, L'\U0001F600');
    const EventData Long = Message("f", 1, "g", Longest);
    Decoded Result = Decode(Long.Descriptors());
    ASSERT_EQ(Result.Error, ERROR_SUCCESS);
    EXPECT_EQ(std::string(Result.Message.Text).size(), Longest.size() * 4);
    EventData Event = Message("", 1, "", std::wstring(20000, L'\u20ac'));
    Event.Meta = MessageMetadata(1, 8, 1, 1);
    Event.Values[0] = Wide(std::wstring(5000, L'f'));
    Event.Values[2] = Wide(L"Run");
    Result = Decode(Event.Descriptors());
    ASSERT_EQ(Result.Error, ERROR_SUCCESS);
    EXPECT_GE(std::string(Result.Message.Text).size(), Longest.size() * 4);
    EXPECT_EQ(std::string(Result.Message.Text).size() % 3, 0u);
    EXPECT_STREQ(Result.Message.SourceFunction, "Run");
}

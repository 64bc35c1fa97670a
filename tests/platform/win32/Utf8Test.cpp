#include <string>

#include <gtest/gtest.h>

#include "Win32/Utf8.h"

using Platform::InvalidUtf8;
using Platform::Utf8FromWide;
using Platform::WideFromUtf8;

TEST(Utf8, EveryByteStringSurvivesTheTripThroughWideText)
{
    // Valid text, each lone byte, and the invalid shapes: a stray continuation
    // byte, a cut sequence, an overlong form, an encoded surrogate, a value
    // past U+10FFFF, and an encoded escape value, which must not collapse
    // into the byte it would stand for.
    std::vector<std::string> Texts = {
        "plain",
        "vid\xC3\xA9o \xE4\xB8\xAD\xF0\x9F\x8E\xAC",
        "a\xFF"
        "b",
        "\x80",
        "x\xE2\x82",
        "\xC0\xAF",
        "\xED\xA0\x80",
        "\xF4\x90\x80\x80",
        "\xED\xB3\xBF",
        "\xC3",
    };
    for (int Byte = 0; Byte < 256; ++Byte)
        Texts.push_back(std::string(1, static_cast<char>(Byte)) + "z");
    for (const std::string& Text : Texts)
        EXPECT_EQ(Utf8FromWide(WideFromUtf8(Text)), Text) << testing::PrintToString(Text);
}

TEST(Utf8, InvalidBytesAreEscapedOneByOneAndValidTextIsDecoded)
{
    EXPECT_EQ(WideFromUtf8("vid\xC3\xA9o"), L"vid\u00e9o");
    EXPECT_EQ(WideFromUtf8("\xF0\x9F\x8E\xAC"), std::wstring(1, static_cast<wchar_t>(0x1F3AC)));
    EXPECT_EQ(WideFromUtf8("a\xFF"
                           "b"),
              (std::wstring{L'a', static_cast<wchar_t>(0xDCFF), L'b'}));
    // A cut sequence escapes its bytes and reads what follows afresh.
    EXPECT_EQ(WideFromUtf8("\xE2\x82"
                           "A"),
              (std::wstring{static_cast<wchar_t>(0xDCE2), static_cast<wchar_t>(0xDC82), L'A'}));
}

TEST(Utf8, OtherModesReplaceOrFail)
{
    std::wstring Result;
    EXPECT_TRUE(WideFromUtf8("a\xFF"
                             "b",
                             Result, InvalidUtf8::Replace));
    EXPECT_EQ(Result, L"a\uFFFDb");
    EXPECT_FALSE(WideFromUtf8("a\xFF"
                              "b",
                              Result, InvalidUtf8::Fail));
    EXPECT_TRUE(WideFromUtf8("ok", Result, InvalidUtf8::Fail));
    EXPECT_EQ(Result, L"ok");
}

TEST(Utf8, SurrogatesThatEscapeNothingBecomeTheReplacementCharacter)
{
    // U+D800 and U+DC7F are surrogates but stand for no byte; U+DC80 is 0x80.
    const std::wstring Text = {static_cast<wchar_t>(0xD800), static_cast<wchar_t>(0xDC7F), static_cast<wchar_t>(0xDC80),
                               static_cast<wchar_t>(0x110000)};
    EXPECT_EQ(Utf8FromWide(Text), "\xEF\xBF\xBD\xEF\xBF\xBD\x80\xEF\xBF\xBD");
    char Buffer[4];
    // The buffer form cuts at a character boundary.
    EXPECT_EQ(Platform::Utf8FromWide(L"\u00e9\u00e9", Buffer, sizeof Buffer), 2u);
    EXPECT_STREQ(Buffer, "\xC3\xA9");
}

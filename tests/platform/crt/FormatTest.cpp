#include <climits>
#include <cwchar>
#include <string>

#include <gtest/gtest.h>

#include <windows.h>

TEST(SecureFormat, TextConversionsFollowTheWindowsRules)
{
    wchar_t Wide[64];
    // In wide formats %s and %ls are wide, %hs and %S narrow.
    _snwprintf_s(Wide, 64, _TRUNCATE, L"%s|%ls|%hs|%S|%c|%hc", L"w1", L"w2", "n1", "n2", L'x', 'y');
    EXPECT_STREQ(Wide, L"w1|w2|n1|n2|x|y");
    char Narrow[64];
    // In narrow formats %s and %hs are narrow, %ls and %S wide.
    _snprintf_s(Narrow, 64, _TRUNCATE, "%s|%hs|%ls|%S|%08X|%d", "n1", "n2", L"w1", L"w2", 0x80070057u, -3);
    EXPECT_STREQ(Narrow, "n1|n2|w1|w2|80070057|-3");
    // Wide text beyond ASCII becomes UTF-8.
    _snprintf_s(Narrow, 64, _TRUNCATE, "%ls", L"\u00e9\u4e2d");
    EXPECT_STREQ(Narrow, "\xC3\xA9\xE4\xB8\xAD");
}

TEST(SecureFormat, WideTextInNarrowOutputKeepsEscapedBytesWidthAndPrecision)
{
    // Bytes that were not UTF-8 (escaped as U+DC80 + byte) come back as they
    // were, and the rest of the line follows them.
    const wchar_t Name[] = {L'a', static_cast<wchar_t>(0xDCFF), L'b', L'\0'};
    char Narrow[64];
    EXPECT_EQ(_snprintf_s(Narrow, 64, _TRUNCATE, "[%ls] %d", Name, 7), 7);
    EXPECT_STREQ(Narrow, "[a\xFF"
                         "b] 7");
    _snprintf_s(Narrow, 64, _TRUNCATE, "[%5ls|%-5S|%.3ls|%ls]", L"ab", L"cd", L"\u00e9\u00e9",
                static_cast<const wchar_t*>(nullptr));
    // The precision counts bytes and never cuts a character.
    EXPECT_STREQ(Narrow, "[   ab|cd   |\xC3\xA9|(null)]");
}

TEST(SecureFormat, PointersPrintAsSixteenHexDigits)
{
    char Narrow[64];
    _snprintf_s(Narrow, 64, _TRUNCATE, "0x%p", reinterpret_cast<void*>(0xABCDEF12));
    EXPECT_STREQ(Narrow, "0x00000000ABCDEF12");
    wchar_t Wide[64];
    _snwprintf_s(Wide, 64, _TRUNCATE, L"this 0x%p, %d", static_cast<void*>(nullptr), 5);
    EXPECT_STREQ(Wide, L"this 0x0000000000000000, 5");
    _snprintf_s(Narrow, 64, _TRUNCATE, "%I64d %Iu %%p", -5ll, size_t{7});
    EXPECT_STREQ(Narrow, "-5 7 %p");
}

TEST(SecureFormat, TruncationKeepsWhatFitsAndReportsIt)
{
    char Narrow[8];
    EXPECT_EQ(_snprintf_s(Narrow, sizeof Narrow, _TRUNCATE, "%s", "1234567"), 7);
    EXPECT_STREQ(Narrow, "1234567");
    EXPECT_EQ(_snprintf_s(Narrow, sizeof Narrow, _TRUNCATE, "%s", "123456789"), -1);
    EXPECT_STREQ(Narrow, "1234567");
    EXPECT_EQ(_snprintf_s(Narrow, sizeof Narrow, 3, "%s", "123456789"), -1);
    EXPECT_STREQ(Narrow, "123");
    wchar_t Wide[8];
    EXPECT_EQ(_snwprintf_s(Wide, 8, _TRUNCATE, L"%ls", L"123456789"), -1);
    EXPECT_STREQ(Wide, L"1234567");
    // A very long format still works.
    const std::wstring LongFormat = std::wstring(3000, L'a') + L"%d";
    std::wstring Output(4000, L'\0');
    EXPECT_EQ(_snwprintf_s(Output.data(), Output.size(), _TRUNCATE, LongFormat.c_str(), 42), 3002);
    EXPECT_EQ(std::wstring(Output.c_str()), std::wstring(3000, L'a') + L"42");
}

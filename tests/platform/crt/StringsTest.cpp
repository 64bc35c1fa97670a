// The C runtime's string helpers.

#include <climits>
#include <cwchar>

#include <gtest/gtest.h>

#include <windows.h>

TEST(SecureStrings, CatCutsToFit)
{
    wchar_t Buffer[6] = L"ab";
    EXPECT_EQ(wcsncat_s(Buffer, 6, L"cd", _TRUNCATE), 0);
    EXPECT_STREQ(Buffer, L"abcd");
    EXPECT_EQ(wcsncat_s(Buffer, 6, L"efgh", _TRUNCATE), STRUNCATE);
    EXPECT_STREQ(Buffer, L"abcde");
}

TEST(DecimalValue, ReadsLikeTheRuntime)
{
    EXPECT_EQ(_wtoi(L"1280"), 1280);
    EXPECT_EQ(_wtoi(L"  \t-42abc"), -42);
    EXPECT_EQ(_wtoi(L"+7"), 7);
    EXPECT_EQ(_wtoi(L"out.mp4"), 0);
    EXPECT_EQ(_wtoi(L""), 0);
    EXPECT_EQ(_wtoi(L"- 5"), 0);
    EXPECT_EQ(_wtoi(L"2147483647"), INT_MAX);
    EXPECT_EQ(_wtoi(L"-2147483648"), INT_MIN);
    // Past the range the value saturates.
    EXPECT_EQ(_wtoi(L"99999999999999999999"), INT_MAX);
    EXPECT_EQ(_wtoi(L"-99999999999999999999"), INT_MIN);
}

TEST(CaseInsensitiveCompare, FoldsOnlyAsciiLetters)
{
    EXPECT_EQ(_wcsicmp(L"Syntax", L"SYNTAX"), 0);
    EXPECT_EQ(_wcsicmp(L"ea", L"EA"), 0);
    EXPECT_LT(_wcsicmp(L"a", L"B"), 0);
    EXPECT_GT(_wcsicmp(L"ab", L"A"), 0);
    EXPECT_NE(_wcsicmp(L"\u00e9", L"\u00c9"), 0);
    // Letters fold to lower case, so '_' sorts before every letter.
    EXPECT_LT(_wcsicmp(L"_", L"a"), 0);
}

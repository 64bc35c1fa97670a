#include <cstdlib>

#include <gtest/gtest.h>

#include <windows.h>

TEST(GetEnvironmentVariableW, ValuesSizesAndAbsence)
{
    setenv("OSTREL_TEST_VARIABLE", "caf\xC3\xA9 \xFF", 1);
    wchar_t Buffer[16];
    // Room for the value: its length; too little: the size it needs.
    EXPECT_EQ(GetEnvironmentVariableW(L"OSTREL_TEST_VARIABLE", Buffer, 16), 6u);
    EXPECT_EQ(std::wstring(Buffer), (std::wstring{L'c', L'a', L'f', L'\u00e9', L' ', static_cast<wchar_t>(0xDCFF)}));
    EXPECT_EQ(GetEnvironmentVariableW(L"OSTREL_TEST_VARIABLE", Buffer, 6), 7u);
    EXPECT_EQ(GetEnvironmentVariableW(L"OSTREL_TEST_VARIABLE", nullptr, 0), 7u);
    unsetenv("OSTREL_TEST_VARIABLE");
    EXPECT_EQ(GetEnvironmentVariableW(L"OSTREL_TEST_VARIABLE", Buffer, 16), 0u);
    EXPECT_EQ(GetLastError(), ERROR_ENVVAR_NOT_FOUND);
}

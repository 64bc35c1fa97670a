#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <windows.h>

#include "win32/CommandLineQuoting.h"
#include "Win32/Utf8.h"

namespace {

std::vector<std::wstring> Split(const wchar_t* CommandLine)
{
    int Count = 0;
    LPWSTR* Vector = CommandLineToArgvW(CommandLine, &Count);
    EXPECT_NE(Vector, nullptr);
    std::vector<std::wstring> Result(Vector, Vector + Count);
    EXPECT_EQ(Vector[Count], nullptr);
    LocalFree(Vector);
    return Result;
}

} // namespace

TEST(CommandLineToArgvW, BackslashAndQuoteRules)
{
    using List = std::vector<std::wstring>;
    EXPECT_EQ(Split(L"prog a b"), (List{L"prog", L"a", L"b"}));
    EXPECT_EQ(Split(L"prog  \t a\t\"b c\"  "), (List{L"prog", L"a", L"b c"}));
    EXPECT_EQ(Split(L"\"C:\\Program Files\\x.exe\" -?"), (List{L"C:\\Program Files\\x.exe", L"-?"}));
    // The program path takes no escapes.
    EXPECT_EQ(Split(L"C:\\dir\\x.exe\\ a"), (List{L"C:\\dir\\x.exe\\", L"a"}));
    // Backslashes are literal unless a quote follows them.
    EXPECT_EQ(Split(L"p a\\\\b c\\"), (List{L"p", L"a\\\\b", L"c\\"}));
    // 2n backslashes and a quote: n backslashes, the quote toggles.
    EXPECT_EQ(Split(L"p \"a\\\\\\\\\" b"), (List{L"p", L"a\\\\", L"b"}));
    // 2n + 1 backslashes and a quote: n backslashes and a literal quote.
    EXPECT_EQ(Split(L"p a\\\\\\\"b"), (List{L"p", L"a\\\"b"}));
    EXPECT_EQ(Split(L"p \\\"x\\\""), (List{L"p", L"\"x\""}));
    // Quotes inside a word, a doubled quote inside quotes, an empty argument.
    EXPECT_EQ(Split(L"p ab\"c d\"e \"f\"\"g\" \"\""), (List{L"p", L"abc de", L"f\"g", L""}));
    // An unterminated quote runs to the end.
    EXPECT_EQ(Split(L"p \"open ended"), (List{L"p", L"open ended"}));
}

TEST(CommandLineToArgvW, EmptyLineGivesTheProgramPath)
{
    const auto Arguments = Split(L"");
    ASSERT_EQ(Arguments.size(), 1u);
    EXPECT_NE(Arguments[0].find(L"" OSTREL_TEST_BINARY), std::wstring::npos);
    int Count = 0;
    EXPECT_EQ(CommandLineToArgvW(L"x", nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    (void)Count;
}

TEST(CommandLineQuoting, EveryArgumentSplitsBackUnchanged)
{
    const std::vector<std::wstring> Arguments = {
        L"/path with space/ostrel",
        L"plain",
        L"",
        L"two words",
        L"tab\there",
        L"quote\"inside",
        L"\"",
        L"trailing\\",
        L"trailing space\\",
        L"\\\\server\\share\\",
        L"back\\\\\"quote",
        L"\\\"",
        L"-Resolution:1280",
        L"vid\u00e9o \u4e2d",
        L"   ",
    };
    std::wstring CommandLine;
    for (size_t Index = 0; Index < Arguments.size(); ++Index)
        Platform::AppendCommandLineArgument(CommandLine, Arguments[Index], Index == 0);
    EXPECT_EQ(Split(CommandLine.c_str()), Arguments);
}

TEST(CommandLineQuoting, ProgramPathsWithQuotesSplitBackUnchanged)
{
    const std::vector<std::wstring> Programs = {
        L"/opt/a\"b/ostrel", L"\"", L"ends\"", L"\"starts", L"a\"\"b c", L"", std::wstring(300, L'p') + L"/ostrel"};
    for (const std::wstring& Program : Programs)
    {
        std::wstring CommandLine;
        Platform::AppendCommandLineArgument(CommandLine, Program, true);
        Platform::AppendCommandLineArgument(CommandLine, L"-ParentProcessDebug");
        Platform::AppendCommandLineArgument(CommandLine, L"12");
        EXPECT_EQ(Split(CommandLine.c_str()), (std::vector<std::wstring>{Program, L"-ParentProcessDebug", L"12"}))
            << CommandLine;
    }
    // A program path without quotes ends at the first blank, quotes and all.
    EXPECT_EQ(Split(L"a\"b c"), (std::vector<std::wstring>{L"a\"b", L"c"}));
}

TEST(GetCommandLineW, SplitsIntoTheArgumentsThisProcessWasStartedWith)
{
    // The arguments were taken before main, not read from /proc later; the
    // kernel's copy still serves as the witness here.
    std::ifstream Stream("/proc/self/cmdline", std::ios::binary);
    const std::string Bytes{std::istreambuf_iterator<char>(Stream), std::istreambuf_iterator<char>()};
    std::vector<std::wstring> Expected;
    for (size_t Start = 0; Start < Bytes.size();)
    {
        const size_t End = Bytes.find('\0', Start);
        Expected.push_back(Platform::WideFromUtf8(Bytes.substr(Start, End - Start)));
        Start = End + 1;
    }
    EXPECT_EQ(Split(GetCommandLineW()), Expected);
    EXPECT_EQ(GetCommandLineW(), GetCommandLineW());
}

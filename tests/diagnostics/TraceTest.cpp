#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "diagnostics/Check.h"
#include "diagnostics/TraceProvider.h"
#include "support/DebugOutputCapture.h"

namespace {

struct Widget
{
    Widget() { TRACE(L"constructed %d\n", 7); }
    void Fail() { CheckCondition(1 + 1 == 3, E_FAIL); }
    template <typename Type>
    static void Generic()
    {
        TRACE(L"generic\n");
    }
};

std::wstring Suffix(const std::wstring& Line)
{
    // The part after "<file>(<line>): ".
    return Line.substr(Line.find(L"): ") + 3);
}

} // namespace

TEST(Trace, LineNamesBaseFileLineAndQualifiedFunction)
{
    DebugOutputCapture Capture;
    Widget Object;
    Widget::Generic<std::pair<int, long>>();
    const int LambdaLine = __LINE__ + 1;
    [] { TRACE(L"in lambda %hs %ls\n", "narrow", L"wide"); }();
    const auto Lines = Capture.Lines();
    ASSERT_EQ(Lines.size(), 3u);
    EXPECT_EQ(Lines[0].rfind(L"TraceTest.cpp(", 0), 0u);
    EXPECT_EQ(Suffix(Lines[0]), L"Widget::Widget: constructed 7\n");
    EXPECT_EQ(Suffix(Lines[1]), L"Widget::Generic: generic\n");
    EXPECT_EQ(Lines[2],
              L"TraceTest.cpp(" + std::to_wstring(LambdaLine) +
                  L"): Trace_LineNamesBaseFileLineAndQualifiedFunction_Test::TestBody: in lambda narrow wide\n");
}

TEST(Trace, SourceNameIsCutAtEitherSeparator)
{
    EXPECT_STREQ(TraceSourceName({"C:\\src\\Module.cpp", 0, 1, "f"}), "Module.cpp");
    EXPECT_STREQ(TraceSourceName({"/home/src/Module.cpp", 0, 1, "f"}), "Module.cpp");
    EXPECT_STREQ(TraceSourceName({"a/b\\c.cpp", 0, 1, "f"}), "c.cpp");
    EXPECT_STREQ(TraceSourceName({"Plain.cpp", 0, 1, "f"}), "Plain.cpp");
    EXPECT_STREQ(TraceSourceName({"/x/Full.cpp", 1, 1, "f"}), "/x/Full.cpp");
}

TEST(Trace, QualifiedFunctionNameDropsReturnTypeAndParameters)
{
    static constexpr auto Method =
        QualifiedFunctionName("HRESULT VideoSample::SetAllocator(IMFAsyncCallback*, IUnknown*)");
    static constexpr auto Constructor = QualifiedFunctionName("Application::Application(const Arguments&)");
    static constexpr auto Main = QualifiedFunctionName("int main()");
    static constexpr auto Template =
        QualifiedFunctionName("std::pair<int, long> Outer<A, B>::Get() const [with A = int; B = char]");
    static constexpr auto Lambda = QualifiedFunctionName("Application::Do()::<lambda()>");
    EXPECT_STREQ(Method.c_str(), "VideoSample::SetAllocator");
    EXPECT_STREQ(Constructor.c_str(), "Application::Application");
    EXPECT_STREQ(Main.c_str(), "main");
    EXPECT_STREQ(Template.c_str(), "Outer<int, char>::Get");
    static constexpr auto Holder =
        QualifiedFunctionName("void MF::PropVariantT<Unused>::Clear() [with int Unused = 1]");
    EXPECT_STREQ(Holder.c_str(), "MF::PropVariantT<1>::Clear");
    EXPECT_STREQ(Lambda.c_str(), "Application::Do");
}

TEST(Trace, QualifiedFunctionNameReadsClangSignaturesToo)
{
    static constexpr auto Unnamed = QualifiedFunctionName("void (anonymous namespace)::Helper(int)");
    static constexpr auto Member = QualifiedFunctionName("void (anonymous namespace)::Anon::M()");
    static constexpr auto Template = QualifiedFunctionName("static void Outer<int, char>::Get() [A = int, B = char]");
    static constexpr auto Lambda =
        QualifiedFunctionName("auto Application::Do()::(anonymous class)::operator()() const");
    static constexpr auto GccUnnamed = QualifiedFunctionName("void {anonymous}::Anon::M()");
    EXPECT_STREQ(Unnamed.c_str(), "Helper");
    EXPECT_STREQ(Member.c_str(), "Anon::M");
    EXPECT_STREQ(Template.c_str(), "Outer<int, char>::Get");
    EXPECT_STREQ(Lambda.c_str(), "Application::Do");
    EXPECT_STREQ(GccUnnamed.c_str(), "Anon::M");
}

TEST(Trace, LongMessagesAreCutAtTheBufferWithoutOverflow)
{
    DebugOutputCapture Capture;
    const TraceLocation Location{"File.cpp", 0, 12, "Function"};
    const std::wstring Prefix = L"File.cpp(12): Function: ";

    // A line of exactly 8,191 characters is written whole.
    const std::wstring Exact(8191 - Prefix.size(), L'x');
    Trace(Location, L"%ls", Exact.c_str());
    // A longer message is cut at 8,191 characters of line.
    const std::wstring Long(20000, L'y');
    Trace(Location, L"%ls", Long.c_str());
    // A narrow argument past the message buffer.
    const std::string Narrow(9000, 'z');
    Trace(Location, L"%hs\n", Narrow.c_str());

    const auto Lines = Capture.Lines();
    ASSERT_EQ(Lines.size(), 3u);
    EXPECT_EQ(Lines[0], Prefix + Exact);
    EXPECT_EQ(Lines[1].size(), 8191u);
    EXPECT_EQ(Lines[1], Prefix + Long.substr(0, 8191 - Prefix.size()));
    EXPECT_EQ(Lines[2].size(), 8191u);
}

TEST(Trace, FormatWCutsAt4095Characters)
{
    EXPECT_EQ(FormatW(L"%d-%hs-%ls", 42, "narrow", L"wide"), L"42-narrow-wide");
    const std::wstring Long(5000, L'a');
    EXPECT_EQ(FormatW(L"%ls", Long.c_str()), Long.substr(0, 4095));
}

TEST(FailureConvention, TracesTheExpressionThenThrowsTheSameResult)
{
    DebugOutputCapture Capture;
    HRESULT Thrown = S_OK;
    try
    {
        Widget().Fail();
    }
    catch (const ComException& Exception)
    {
        Thrown = Exception.m_Result;
    }
    EXPECT_EQ(Thrown, E_FAIL);
    const auto Lines = Capture.Lines();
    ASSERT_EQ(Lines.size(), 2u);
    EXPECT_EQ(Suffix(Lines[1]), L"Widget::Fail: Throwing an exception, 0x80004005, expression 1 + 1 == 3\n");
}

TEST(FailureConvention, CheckResultEvaluatesOnceAndPassesSuccessCodes)
{
    int Calls = 0;
    auto Call = [&](HRESULT Result) {
        ++Calls;
        return Result;
    };
    EXPECT_NO_THROW(CheckResult(Call(S_FALSE)));
    EXPECT_EQ(Calls, 1);

    DebugOutputCapture Capture;
    try
    {
        CheckResult(Call(E_OUTOFMEMORY));
        FAIL() << "no exception";
    }
    catch (const ComException& Exception)
    {
        EXPECT_EQ(Exception.m_Result, E_OUTOFMEMORY);
    }
    EXPECT_EQ(Calls, 2);
    const auto Lines = Capture.Lines();
    ASSERT_EQ(Lines.size(), 1u);
    EXPECT_NE(Lines[0].find(L"Throwing an exception, 0x8007000E, expression Call(E_OUTOFMEMORY)\n"),
              std::wstring::npos);
}

TEST(FailureConvention, CheckWin32ReportsTheLastError)
{
    auto Fails = [](DWORD Error) {
        SetLastError(Error);
        return static_cast<void*>(nullptr);
    };
    try
    {
        void* Resource = Fails(ERROR_FILE_NOT_FOUND);
        CheckWin32(Resource);
        FAIL() << "no exception";
    }
    catch (const ComException& Exception)
    {
        EXPECT_EQ(Exception.m_Result, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    }
    // A last error of 0 is reported, and thrown, as 0.
    DebugOutputCapture Capture;
    try
    {
        void* Resource = Fails(ERROR_SUCCESS);
        CheckWin32(Resource);
        FAIL() << "no exception";
    }
    catch (const ComException& Exception)
    {
        EXPECT_EQ(Exception.m_Result, S_OK);
    }
    ASSERT_EQ(Capture.Lines().size(), 1u);
    EXPECT_NE(Capture.Lines()[0].find(L"Throwing an exception, 0x00000000, expression Resource\n"), std::wstring::npos);
}

TEST(TraceProvider, EnableCallbackFollowsTheControlCodes)
{
    TraceProvider Provider = {};
    int Chained = 0;
    // A null context changes nothing.
    TraceProviderEnableCallback(nullptr, EVENT_CONTROL_CODE_ENABLE_PROVIDER, 5, 0, 0, nullptr, nullptr);

    TraceProviderEnableCallback(nullptr, EVENT_CONTROL_CODE_ENABLE_PROVIDER, 5, 0x11, 0x22, nullptr, &Provider);
    EXPECT_EQ(Provider.m_LevelPlusOne, 6u);
    EXPECT_EQ(Provider.m_KeywordAny, 0x11u);
    EXPECT_EQ(Provider.m_KeywordAll, 0x22u);
    TraceProviderEnableCallback(nullptr, EVENT_CONTROL_CODE_ENABLE_PROVIDER, 0, 0, 0, nullptr, &Provider);
    EXPECT_EQ(Provider.m_LevelPlusOne, 256u); // every level
    TraceProviderEnableCallback(nullptr, EVENT_CONTROL_CODE_ENABLE_PROVIDER, 4, 0, 0, nullptr, &Provider);
    EXPECT_EQ(Provider.m_LevelPlusOne, 5u); // below verbose: the event is not written
    TraceProviderEnableCallback(nullptr, EVENT_CONTROL_CODE_CAPTURE_STATE, 9, 0, 0, nullptr, &Provider);
    EXPECT_EQ(Provider.m_LevelPlusOne, 5u);

    Provider.m_EnableCallback = [](LPCGUID, ULONG ControlCode, UCHAR, ULONGLONG, ULONGLONG, PEVENT_FILTER_DESCRIPTOR,
                                   PVOID Context) { *static_cast<int*>(Context) += static_cast<int>(ControlCode) + 1; };
    Provider.m_CallbackContext = &Chained;
    TraceProviderEnableCallback(nullptr, EVENT_CONTROL_CODE_DISABLE_PROVIDER, 0, 0, 0, nullptr, &Provider);
    EXPECT_EQ(Provider.m_LevelPlusOne, 0u);
    EXPECT_EQ(Chained, 1);
}

TEST(TraceProvider, MetadataBlobsAreByteExact)
{
    const unsigned char Expected[] = {
        'E', 'T',  'W',  '0',  16,   0,    0,    1,    0x86, 0x0E, 0x04, 0x88, 0x2B, 0x05, 0x8A, 0xBB, // area header
        4,   0x26, 0x8c, 0x7b, 0xb2, 0xdb, 0x18, 0x14, 0x53, 0x91, 0x21, 0x63, 0x05, 0x84, 0xfb, 0xc4, 0x3c, // GUID
        29,  0,    'O',  's',  't',  'r',  'e',  'l',  'T',  'r',  'a',  'c',  'e',  'L',  'o',  'g',  'g',
        'i', 'n',  'g',  'P',  'r',  'o',  'v',  'i',  'd',  'e',  'r',  0, // traits
        6,   11,   5,    0,    0,    0,    0,    0,    0,    0,    0,    0, // event record
        58,  0,    0,    'M',  'e',  's',  's',  'a',  'g',  'e',  0,    'S',  'o',  'u',  'r',  'c',  'e',
        'F', 'i',  'l',  'e',  0,    2,    'S',  'o',  'u',  'r',  'c',  'e',  'L',  'i',  'n',  'e',  0,
        8,   'S',  'o',  'u',  'r',  'c',  'e',  'F',  'u',  'n',  'c',  't',  'i',  'o',  'n',  0,    2,
        'T', 'e',  'x',  't',  'A',  0,    1};
    ASSERT_EQ(sizeof g_TraceLoggingMetadata, sizeof Expected);
    EXPECT_EQ(std::memcmp(&g_TraceLoggingMetadata, Expected, sizeof Expected), 0);
    // Registration finds the GUID right before the traits.
    const auto* Base = reinterpret_cast<const unsigned char*>(&g_TraceLoggingMetadata);
    EXPECT_EQ(g_TraceProvider.m_ProviderTraits, Base + 33);
    EXPECT_EQ(TraceEventMetadata(), Base + 74);
}

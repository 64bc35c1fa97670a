#include <initializer_list>
#include <string>

#include <gtest/gtest.h>

#include "Module/Application.h"
#include "diagnostics/ComException.h"
#include "support/DebugOutputCapture.h"

namespace {

Arguments Make(std::initializer_list<const wchar_t*> Values)
{
    Arguments Result;
    Result.emplace_back(L"ostrel");
    for (const wchar_t* Value : Values)
        Result.emplace_back(Value);
    return Result;
}

// Builds the configuration and returns what it printed.
std::string Configure(std::initializer_list<const wchar_t*> Values, Application::Configuration* Configuration = nullptr,
                      std::wstring* OutputPath = nullptr)
{
    testing::internal::CaptureStdout();
    Application Application(Make(Values));
    if (Configuration)
        *Configuration = Application.m_Configuration;
    if (OutputPath)
        *OutputPath = Application.m_OutputPath;
    return testing::internal::GetCapturedStdout();
}

// Expects the configuration to fail with E_INVALIDARG, tracing Expression.
void ExpectFailure(std::initializer_list<const wchar_t*> Values, const std::wstring& Expression)
{
    DebugOutputCapture Capture;
    HRESULT Result = S_OK;
    try
    {
        Application Application(Make(Values));
    }
    catch (const ComException& Exception)
    {
        Result = Exception.m_Result;
    }
    EXPECT_EQ(Result, E_INVALIDARG);
    const auto Lines = Capture.Lines();
    ASSERT_EQ(Lines.size(), 1u);
    EXPECT_NE(Lines[0].find(L"): Application::Application: Throwing an exception, 0x80070057, expression " +
                            Expression + L"\n"),
              std::wstring::npos)
        << testing::PrintToString(Lines[0]);
}

const std::wstring FrameSizeCheck = L"m_Configuration.m_FrameSizeW > 0 && m_Configuration.m_FrameSizeH > 0";
const std::wstring FrameRateCheck = L"m_Configuration.m_FrameRateN > 0 && m_Configuration.m_FrameRateD > 0";
const std::wstring NextCheck = L"Arguments.Next(Index, Value)";

} // namespace

TEST(Configuration, DefaultsWithoutArguments)
{
    Application::Configuration Configuration;
    std::wstring OutputPath = L"x";
    EXPECT_EQ(Configure({}, &Configuration, &OutputPath), "");
    EXPECT_EQ(Configuration.m_DxgiAdapterIndex, 0u);
    EXPECT_EQ(Configuration.m_FrameSizeW, 1920u);
    EXPECT_EQ(Configuration.m_FrameSizeH, 1080u);
    EXPECT_EQ(Configuration.m_FrameRateN, 60000u);
    EXPECT_EQ(Configuration.m_FrameRateD, 1000u);
    EXPECT_EQ(Configuration.m_Duration, 60);
    EXPECT_EQ(Configuration.m_Bitrate, 10000000u);
    EXPECT_EQ(OutputPath, L"");
}

TEST(Configuration, EveryOptionInAnyCaseAndAlias)
{
    Application::Configuration Configuration;
    std::wstring OutputPath;
    EXPECT_EQ(Configure({L"-AI", L"2", L"-RESOLUTION", L"1280", L"720", L"out.mp4", L"-Ra", L"30000/1001", L"-d", L"3",
                         L"-b", L"2500000", L"-debug:full", L"-DISABLEDEBUGOUTPUT"},
                        &Configuration, &OutputPath),
              "");
    EXPECT_EQ(Configuration.m_DxgiAdapterIndex, 2u);
    EXPECT_EQ(Configuration.m_FrameSizeW, 1280u);
    EXPECT_EQ(Configuration.m_FrameSizeH, 720u);
    EXPECT_EQ(Configuration.m_FrameRateN, 30000u);
    EXPECT_EQ(Configuration.m_FrameRateD, 1001u);
    EXPECT_EQ(Configuration.m_Duration, 3);
    EXPECT_EQ(Configuration.m_Bitrate, 2500000u);
    EXPECT_EQ(OutputPath, L"out.mp4");

    Configure({L"-re", L"640", L"360", L"-adapterindex", L"1", L"-rate", L"24/1/2", L"-DURATION", L" +7x"},
              &Configuration);
    EXPECT_EQ(Configuration.m_FrameSizeW, 640u);
    EXPECT_EQ(Configuration.m_DxgiAdapterIndex, 1u);
    EXPECT_EQ(Configuration.m_FrameRateN, 24u);
    EXPECT_EQ(Configuration.m_FrameRateD, 1u);
    EXPECT_EQ(Configuration.m_Duration, 7);
}

TEST(Configuration, LaterOptionsWinAndRateWithoutSlashResetsTheDenominator)
{
    Application::Configuration Configuration;
    Configure({L"-Rate", L"30000/1001", L"-Rate", L"25", L"-Bitrate", L"1", L"-Bitrate", L"2"}, &Configuration);
    EXPECT_EQ(Configuration.m_FrameRateN, 25u);
    EXPECT_EQ(Configuration.m_FrameRateD, 1u);
    EXPECT_EQ(Configuration.m_Bitrate, 2u);
}

TEST(Configuration, NegativeNumbersAreStoredAsUnsigned)
{
    Application::Configuration Configuration;
    Configure({L"-Resolution", L"-1", L"720", L"-AdapterIndex", L"-5"}, &Configuration);
    EXPECT_EQ(Configuration.m_FrameSizeW, 4294967295u);
    EXPECT_EQ(Configuration.m_DxgiAdapterIndex, 4294967291u);
}

TEST(Configuration, UnknownArgumentsOnlyWarn)
{
    std::wstring OutputPath;
    EXPECT_EQ(Configure({L"a.mp4", L"b.mp4", L"-foo:bar", L"-", L"--x"}, nullptr, &OutputPath),
              "Warning, command line argument not recognized: b.mp4\n"
              "Warning, command line option argument not recognized: foo\n"
              "Warning, command line option argument not recognized: \n"
              "Warning, command line option argument not recognized: -x\n");
    EXPECT_EQ(OutputPath, L"a.mp4");
    // Text beyond ASCII reaches the console as UTF-8.
    EXPECT_EQ(Configure({L"a.mp4", L"vid\u00e9o \u4e2d.mp4"}),
              "Warning, command line argument not recognized: vid\xC3\xA9o \xE4\xB8\xAD.mp4\n");
}

TEST(Configuration, BadCommandLinesFailWithTheirExpression)
{
    ExpectFailure({L"-AdapterIndex"}, NextCheck);
    ExpectFailure({L"-Resolution", L"1280"}, NextCheck);
    ExpectFailure({L"-Rate"}, NextCheck);
    ExpectFailure({L"out.mp4", L"-d"}, NextCheck);
    ExpectFailure({L"-b"}, NextCheck);
    // The value part of an option is never used: 720 becomes the width and
    // out.mp4 the height, which reads as 0.
    ExpectFailure({L"-Resolution:1280", L"720", L"out.mp4"}, FrameSizeCheck);
    ExpectFailure({L"-Resolution", L"0", L"720"}, FrameSizeCheck);
    ExpectFailure({L"-Rate", L"30/"}, FrameRateCheck);
    ExpectFailure({L"-Rate", L"/2"}, FrameRateCheck);
    ExpectFailure({L"-Rate", L"0"}, FrameRateCheck);
    // An empty output path is given, and names no file; after a path it is
    // one more argument that only warns.
    ExpectFailure({L""}, L"!Argument.empty()");
    ExpectFailure({L"-Duration", L"1", L"", L"out.mp4"}, L"!Argument.empty()");
    std::wstring OutputPath;
    EXPECT_EQ(Configure({L"out.mp4", L""}, nullptr, &OutputPath), "Warning, command line argument not recognized: \n");
    EXPECT_EQ(OutputPath, L"out.mp4");
}

TEST(Configuration, FrameCountsThatCannotBeCountedAreRejected)
{
    const std::wstring FrameCountCheck = L"MulDiv(m_Configuration.m_Duration, m_Configuration.m_FrameRateN, "
                                         L"m_Configuration.m_FrameRateD) >= 0";
    ExpectFailure({L"-Duration", L"-1", L"out.mp4"}, FrameCountCheck);
    ExpectFailure({L"out.mp4", L"-Duration", L"100000000"}, FrameCountCheck); // past the 32-bit range
    ExpectFailure({L"-Rate", L"-5", L"out.mp4"}, FrameCountCheck);            // a rate past the signed range
    Application::Configuration Configuration;
    EXPECT_EQ(Configure({L"-Duration", L"0", L"out.mp4"}, &Configuration), "");
    EXPECT_EQ(Configuration.m_Duration, 0);
    // Without an output path there is no run to count frames for: the syntax
    // follows, whatever the numbers say.
    std::wstring OutputPath = L"unset";
    EXPECT_EQ(Configure({L"-Duration", L"-1"}, &Configuration, &OutputPath), "");
    EXPECT_EQ(Configuration.m_Duration, -1);
    EXPECT_EQ(OutputPath, L"");
    EXPECT_EQ(Configure({L"-Rate", L"-5"}, &Configuration), "");
}

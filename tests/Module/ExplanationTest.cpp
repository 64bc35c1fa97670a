// Failures in words: every code that the tool's tests make it print has words,
// and the words name what the run was given.

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include <mferror.h>

#include "Module/Explanation.h"

namespace {

// The codes that the end-to-end tests expect the tool to print, on its
// failure line or on standard error.
std::set<unsigned> CodesTheTestsProvoke()
{
    const std::regex Code("(Exception: |failed with )0x([0-9A-F]{8})");
    std::set<unsigned> Codes;
    for (const auto& Entry : std::filesystem::directory_iterator(std::string(OSTREL_TEST_SOURCE_DIR) + "/e2e"))
    {
        if (Entry.path().extension() != ".sh")
            continue;
        std::ifstream Script(Entry.path());
        std::stringstream Text;
        Text << Script.rdbuf();
        const std::string Content = Text.str();
        for (auto Match = std::sregex_iterator(Content.begin(), Content.end(), Code); Match != std::sregex_iterator();
             ++Match)
            Codes.insert(std::stoul((*Match)[2].str(), nullptr, 16));
    }
    return Codes;
}

} // namespace

TEST(Explanation, EveryCodeThatTheTestsProvokeHasWords)
{
    const std::set<unsigned> Codes = CodesTheTestsProvoke();
    ASSERT_GE(Codes.size(), 8u);
    const Application::Configuration Configuration;
    for (const unsigned Code : Codes)
    {
        // The self-debugging child's own failures and the exceptions that
        // the debuggee raises on purpose are not the tool's failures.
        if (Code == 0x80004005 || Code == 0x8007042B || Code == 0x800705B4)
            continue;
        EXPECT_FALSE(ExplainFailure(static_cast<HRESULT>(Code), Configuration).empty()) << std::hex << Code;
    }
}

TEST(Explanation, WordsNameWhatTheRunWasGiven)
{
    Application::Configuration Configuration;
    Configuration.m_DxgiAdapterIndex = 99;
    Configuration.m_FrameSizeW = 641;
    Configuration.m_FrameSizeH = 360;
    Configuration.m_Bitrate = 5;
    EXPECT_EQ(ExplainFailure(DXGI_ERROR_NOT_FOUND, Configuration), "no adapter 99; `ostrel -ea` lists them");
    const std::string Refused = ExplainFailure(MF_E_INVALIDMEDIATYPE, Configuration);
    EXPECT_NE(Refused.find("641x360 at 5 bit/s"), std::string::npos) << Refused;
    EXPECT_NE(Refused.find("at least 1000"), std::string::npos) << Refused;
    EXPECT_EQ(ExplainFailure(HRESULT_FROM_WIN32(ERROR_DISK_FULL), Configuration).rfind("the disk is full", 0), 0u);
    EXPECT_EQ(ExplainFailure(MF_E_UNSUPPORTED_BYTESTREAM_TYPE, Configuration),
              "no video container for this extension; use one of .mp4 .m4v .mov .mkv .3gp .3g2");
    EXPECT_TRUE(ExplainFailure(E_UNEXPECTED, Configuration).empty());
}

#include <string>

#include <gtest/gtest.h>

#include "Module/Module.h"

namespace {

Application::Statistics::Figures Sample()
{
    Application::Statistics::Figures Figures;
    Figures.m_Adapter = L"llvmpipe (LLVM 15.0.6, 256 bits)";
    Figures.m_Encoder = L"libx264 superfast";
    Figures.m_Frames = 100;
    Figures.m_ElapsedSeconds = 3.25;
    Figures.m_Submit = 0.05;
    Figures.m_WaitForSample = 0.25;
    Figures.m_WaitForWriter = 0.15;
    Figures.m_DeviceKnown = true;
    Figures.m_Device = 1.98;
    Figures.m_WriterStages = true;
    Figures.m_Readback = 0.11;
    Figures.m_Convert = 0.23;
    Figures.m_Encode = 1.16;
    Figures.m_Mux = 0.01;
    return Figures;
}

} // namespace

TEST(Statistics, TheSummaryGivesEachStageAFrameAndTheWaits)
{
    Application::Statistics::Figures Figures = Sample();
    EXPECT_EQ(Application::Statistics::SummaryLine(Figures),
              "llvmpipe (LLVM 15.0.6, 256 bits), libx264 superfast: render 19.8 ms, readback 1.1 ms, convert 2.3 ms, "
              "encode 11.6 ms, mux 0.1 ms a frame; waited 0.4 s");
    // A writer that tells nothing: the rendering thread's own figures only.
    Figures.m_Encoder.clear();
    Figures.m_DeviceKnown = Figures.m_WriterStages = false;
    EXPECT_EQ(Application::Statistics::SummaryLine(Figures),
              "llvmpipe (LLVM 15.0.6, 256 bits): render 0.5 ms a frame; waited 0.4 s");
}

TEST(Statistics, TheJsonHoldsTheSettingsAndStaysAsciiWhateverTheNames)
{
    Application::Statistics::Figures Figures = Sample();
    Figures.m_Adapter = L"GPU \"x\" \\ caf\u00e9 \U0001F3AC";
    Application::Configuration Configuration;
    Configuration.m_FrameSizeW = 640;
    Configuration.m_FrameRateN = 30000;
    Configuration.m_FrameRateD = 1001;
    const std::wstring Output = {L'a', static_cast<wchar_t>(0xDCFF), L'.', L'm', L'p', L'4'};
    const std::string Json = Application::Statistics::Json(Figures, Configuration, Output);
    for (char Character : Json)
        ASSERT_TRUE(static_cast<unsigned char>(Character) < 0x80) << Json;
    for (const char* Expected :
         {"\"adapter\": \"GPU \\\"x\\\" \\\\ caf\\u00e9 \\ud83c\\udfac\"", "\"output\": \"a\\ufffd.mp4\"",
          "\"encoder\": \"libx264 superfast\"", "\"width\": 640", "\"height\": 1080", "\"frame_rate\": [30000, 1001]",
          "\"frames\": 100", "\"elapsed_seconds\": 3.250", "\"render\": 19.800", "\"render_on_device\": true",
          "\"submit\": 0.500", "\"readback\": 1.100", "\"mux\": 0.100",
          "\"waited_seconds\": {\"sample\": 0.250, \"writer\": 0.150}"})
        EXPECT_NE(Json.find(Expected), std::string::npos) << Expected << " in " << Json;
    // No encoder named, no writer stages: null, and the stages left out.
    Figures.m_Encoder.clear();
    Figures.m_WriterStages = false;
    const std::string Bare = Application::Statistics::Json(Figures, Configuration, Output);
    EXPECT_NE(Bare.find("\"encoder\": null"), std::string::npos);
    EXPECT_EQ(Bare.find("readback"), std::string::npos);
}

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>
#include <unistd.h>

#include <gtest/gtest.h>

#include "Module/Statistics.h"

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

TEST(Statistics, TheSummaryFitsItsWidthAndSaysWhatTheRunAchieved)
{
    Application::Statistics::Figures Figures = Sample();
    Figures.m_FrameRate = 60;
    Figures.m_BytesMuxedKnown = true;
    Figures.m_BytesMuxed = 2'062'500; // 1.67 s of video: 9.90 Mbit/s
    Figures.m_FileBytesKnown = true;
    Figures.m_FileBytes = 2'070'123;
    Figures.m_FramePath = L"in-place";
    Figures.m_BytesCopiedKnown = true;
    Figures.m_LatencyKnown = true;
    Figures.m_Latency = {0.0321, 0.041, 0.0552, 0.0603};
    Figures.m_CpuKnown = true;
    Figures.m_Cpu = 0.98;
    Figures.m_PsnrKnown = true;
    Figures.m_PsnrY = 41.654;
    Figures.m_PsnrAverage = 43.1;
    Figures.m_SsimKnown = true;
    Figures.m_Ssim = 0.98765;
    const std::vector<std::string> Expected = {
        "100 frames written in 3.25 s: 30.8 fps, 32.50 ms a frame, speed 0.51x",
        "bit rate 9.90 Mbit/s, file 2,070,123 bytes",
        "llvmpipe (LLVM 15.0.6, 256 bits), libx264 superfast, in-place,",
        "  0 bytes copied a frame",
        "render 19.8 ms, readback 1.1 ms, convert 2.3 ms, encode 11.6 ms,",
        "  mux 0.1 ms a frame; waited 0.4 s",
        "latency p50 32.1 ms, p90 41.0 ms, p99 55.2 ms, max 60.3 ms; CPU 9.8 ms a frame",
        "PSNR Y 41.65 dB, average 43.10 dB, SSIM 0.9877"};
    EXPECT_EQ(Application::Statistics::SummaryLines(Figures), Expected);
    for (const size_t Width : {size_t{80}, size_t{40}})
        for (const std::string& Line : Application::Statistics::SummaryLines(Figures, Width))
            EXPECT_LE(Line.size(), Width) << Line;

    // An interrupted run, and a writer that tells nothing: the rendering
    // thread's own figures only.
    Figures = Sample();
    Figures.m_Interrupted = true;
    Figures.m_Encoder.clear();
    Figures.m_DeviceKnown = Figures.m_WriterStages = false;
    EXPECT_EQ(Application::Statistics::SummaryLines(Figures),
              (std::vector<std::string>{"interrupted: 100 frames written in 3.25 s: 30.8 fps, 32.50 ms a frame",
                                        "llvmpipe (LLVM 15.0.6, 256 bits)", "render 0.5 ms a frame; waited 0.4 s"}));
}

TEST(Statistics, LatencyPercentilesAreNearestRanks)
{
    std::vector<double> Values;
    for (int Value = 200; Value >= 1; --Value)
        Values.push_back(Value / 1000.0);
    const auto Percentiles = Application::Statistics::PercentilesOf(Values);
    EXPECT_DOUBLE_EQ(Percentiles.m_P50, 0.100);
    EXPECT_DOUBLE_EQ(Percentiles.m_P90, 0.180);
    EXPECT_DOUBLE_EQ(Percentiles.m_P99, 0.198);
    EXPECT_DOUBLE_EQ(Percentiles.m_Max, 0.200);
    // One value is every percentile; none gives zeros.
    const auto One = Application::Statistics::PercentilesOf({0.25});
    EXPECT_EQ(One.m_P50, 0.25);
    EXPECT_EQ(One.m_P99, 0.25);
    EXPECT_EQ(Application::Statistics::PercentilesOf({}).m_Max, 0.0);
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
          "\"frames\": 100", "\"elapsed_seconds\": 3.250", "\"render\": 19.800", "\"render_on_device\": true,\n",
          "\"submit\": 0.500", "\"readback\": 1.100", "\"mux\": 0.100",
          "\"waited_seconds\": {\"sample\": 0.250, \"writer\": 0.150}"})
        EXPECT_NE(Json.find(Expected), std::string::npos) << Expected << " in " << Json;
    // What the run achieved, where known; the quality only where measured.
    Figures.m_FrameRate = 50;
    Figures.m_BytesMuxedKnown = Figures.m_FileBytesKnown = Figures.m_LatencyKnown = Figures.m_CpuKnown = true;
    Figures.m_BytesMuxed = 1'000'000;
    Figures.m_FileBytes = 1'004'321;
    Figures.m_Latency = {0.01, 0.02, 0.03, 0.04};
    Figures.m_Cpu = 1.5;
    Figures.m_PsnrKnown = Figures.m_SsimKnown = true;
    Figures.m_PsnrY = 40.5;
    Figures.m_PsnrAverage = 42.25;
    Figures.m_Ssim = 0.975;
    const std::string Achieved = Application::Statistics::Json(Figures, Configuration, Output);
    for (const char* Expected :
         {"\"fps\": 30.769,", "\"speed\": 0.615,", "\"bitrate_achieved\": 4000000,", "\"file_bytes\": 1004321,",
          "\"latency_ms\": {\"p50\": 10.000, \"p90\": 20.000, \"p99\": 30.000, \"max\": 40.000},",
          "\"cpu_ms_per_frame\": 15.000,",
          "\"quality\": {\"psnr_y\": 40.500, \"psnr_average\": 42.250, \"ssim\": 0.97500},"})
        EXPECT_NE(Achieved.find(Expected), std::string::npos) << Expected << " in " << Achieved;
    // No encoder named, no writer stages: null, and the stages left out.
    Figures = Sample();
    Figures.m_Encoder.clear();
    Figures.m_WriterStages = false;
    const std::string Bare = Application::Statistics::Json(Figures, Configuration, Output);
    EXPECT_NE(Bare.find("\"encoder\": null"), std::string::npos);
    EXPECT_EQ(Bare.find("readback"), std::string::npos);
    for (const char* Expected : {"\"bitrate_achieved\": null,", "\"file_bytes\": null,", "\"latency_ms\": null,",
                                 "\"cpu_ms_per_frame\": null,"})
        EXPECT_NE(Bare.find(Expected), std::string::npos) << Expected << " in " << Bare;
    EXPECT_EQ(Bare.find("quality"), std::string::npos);
}

TEST(Statistics, EachJsonFieldCarriesItsOwnFigure)
{
    // Every figure distinct, so that one field showing another's value shows.
    Application::Statistics::Figures Figures = Sample();
    Figures.m_Frames = 200;
    Figures.m_ElapsedSeconds = 4.125;
    Figures.m_Readback = 0.2;
    Figures.m_Convert = 0.4;
    Figures.m_Encode = 0.6;
    Figures.m_Mux = 0.8;
    Figures.m_Submit = 1.0;
    Figures.m_Device = 1.2;
    Figures.m_WaitForSample = 0.125;
    Figures.m_WaitForWriter = 0.375;
    Application::Configuration Configuration;
    Configuration.m_DxgiAdapterIndex = 3;
    Configuration.m_FrameSizeW = 640;
    Configuration.m_FrameSizeH = 368;
    Configuration.m_FrameRateN = 30000;
    Configuration.m_FrameRateD = 1001;
    Configuration.m_Duration = 7;
    Configuration.m_Bitrate = 123456;
    const std::string Json = Application::Statistics::Json(Figures, Configuration, L"out.mp4");
    for (const char* Expected :
         {"\"adapter_index\": 3,", "\"width\": 640,", "\"height\": 368,", "\"frame_rate\": [30000, 1001],",
          "\"duration\": 7,", "\"bitrate\": 123456,", "\"frames\": 200,", "\"elapsed_seconds\": 4.125,",
          "{\"render\": 6.000,", "\"render_on_device\": true,\n", "\"submit\": 5.000,", "\"readback\": 1.000,",
          "\"convert\": 2.000,", "\"encode\": 3.000,", "\"mux\": 4.000}", "\"sample\": 0.125,", "\"writer\": 0.375}",
          "\"output\": \"out.mp4\","})
        EXPECT_NE(Json.find(Expected), std::string::npos) << Expected << " in " << Json;
    // Without the device's time, rendering is the rendering thread's.
    Figures.m_DeviceKnown = false;
    const std::string Thread = Application::Statistics::Json(Figures, Configuration, L"out.mp4");
    EXPECT_NE(Thread.find("\"render_on_device\": false,\n  \"milliseconds_per_frame\": {\"render\": 5.000, \"submit\""),
              std::string::npos)
        << Thread;
}

namespace {

// A folder of its own and OSTREL_STATISTICS set for one test.
class StatisticsFile : public testing::Test
{
protected:
    void SetUp() override
    {
        char Template[] = "/tmp/ostrel-statistics-XXXXXX";
        ASSERT_NE(mkdtemp(Template), nullptr);
        m_Folder = Template;
    }
    void TearDown() override
    {
        unsetenv("OSTREL_STATISTICS");
        std::filesystem::remove_all(m_Folder);
    }

    std::string Path(const std::string& Name) const { return m_Folder + "/" + Name; }
    static std::wstring Wide(const std::string& Text) { return std::wstring(Text.begin(), Text.end()); }
    static std::string Read(const std::string& File)
    {
        std::ifstream Stream(File, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(Stream), std::istreambuf_iterator<char>());
    }
    std::set<std::string> Entries() const
    {
        std::set<std::string> Names;
        for (const auto& Entry : std::filesystem::directory_iterator(m_Folder))
            Names.insert(Entry.path().filename());
        return Names;
    }

    // Reports into Statistics for a video at Video; answers standard error.
    static std::string Report(const std::string& Statistics, const std::string& Video)
    {
        setenv("OSTREL_STATISTICS", Statistics.c_str(), 1);
        testing::internal::CaptureStderr();
        Application::Statistics::Report(Sample(), Application::Configuration(), Wide(Video));
        return testing::internal::GetCapturedStderr();
    }

    std::string m_Folder;
};

} // namespace

TEST_F(StatisticsFile, TheFiguresNeverTakeThePlaceOfTheVideo)
{
    const std::string Video = Path("video.mp4");
    std::ofstream(Video) << "the video";
    std::filesystem::create_directory(Path("sub"));
    std::filesystem::create_symlink("video.mp4", Path("link.mp4"));
    std::filesystem::create_symlink(".", Path("here"));
    // The video reached through a link at its own path: the link's target is
    // what the statistics would replace.
    std::ofstream(Path("target.mp4")) << "the linked video";
    std::filesystem::create_symlink("target.mp4", Path("output-link.mp4"));
    const std::set<std::string> Before = Entries();
    const struct
    {
        std::string Statistics, Video;
    } Cases[] = {{Video, Video},
                 {Path("link.mp4"), Video},
                 {Path("here/video.mp4"), Video},
                 {Path("sub/../video.mp4"), Video},
                 {Path("target.mp4"), Path("output-link.mp4")}};
    for (const auto& Case : Cases)
    {
        const std::string Error = Report(Case.Statistics, Case.Video);
        EXPECT_EQ(Error, "Ostrel: statistics not written to " + Case.Statistics + ": that is the output video\n");
    }
    EXPECT_EQ(Read(Video), "the video");
    EXPECT_EQ(Read(Path("target.mp4")), "the linked video");
    EXPECT_EQ(Entries(), Before);

    // A hard link made after the video names the same file.
    ASSERT_EQ(link(Video.c_str(), Path("hard.mp4").c_str()), 0);
    EXPECT_NE(Report(Path("hard.mp4"), Video), "");
    EXPECT_EQ(Read(Video), "the video");

    // Another file is written.
    EXPECT_EQ(Report(Path("figures.json"), Video), "");
    EXPECT_NE(Read(Path("figures.json")).find("\"frames\": 100"), std::string::npos);
}

TEST_F(StatisticsFile, AnyNameTheFolderTakesIsWrittenWithNothingLeftBeside)
{
    // The longest name a folder entry holds, in one-byte and in multi-byte
    // characters: the new file's name must fit as well.
    const std::string Ascii = std::string(250, 's') + ".json";
    std::string Accented;
    while (Accented.size() + 2 <= 250)
        Accented += "\xc3\xa9";
    Accented += ".json";
    for (const std::string& Name : {Ascii, Accented})
    {
        setenv("OSTREL_STATISTICS", Path(Name).c_str(), 1);
        testing::internal::CaptureStderr();
        Application::Statistics::Report(Sample(), Application::Configuration(), L"video.mp4");
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << Name.size();
        EXPECT_NE(Read(Path(Name)).find("\"frames\": 100"), std::string::npos) << Name.size();
    }
    EXPECT_EQ(Entries(), (std::set<std::string>{Ascii, Accented}));
}

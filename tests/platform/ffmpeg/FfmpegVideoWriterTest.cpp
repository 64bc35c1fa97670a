// The FFmpeg video writer, checked with ffprobe and ffmpeg as independent readers.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numeric>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "FfmpegErrorPrinting.h"
#include "Ffmpeg/FfmpegVideoWriter.h"

using namespace Platform;
namespace fs = std::filesystem;

namespace {

std::string Shell(const std::string& Command)
{
    std::string Output;
    if (FILE* Pipe = popen((Command + " 2>/dev/null").c_str(), "r"))
    {
        char Buffer[4096];
        size_t Read;
        while ((Read = fread(Buffer, 1, sizeof Buffer, Pipe)) > 0)
            Output.append(Buffer, Read);
        pclose(Pipe);
    }
    return Output;
}

std::vector<std::string> Lines(const std::string& Text)
{
    std::vector<std::string> Result;
    std::istringstream Stream(Text);
    for (std::string Line; std::getline(Stream, Line);)
        if (!Line.empty())
            Result.push_back(Line);
    return Result;
}

// "key=value" lines of ffprobe's default writer.
std::string Field(const std::string& Text, const std::string& Key)
{
    for (const std::string& Line : Lines(Text))
        if (Line.rfind(Key + "=", 0) == 0)
            return Line.substr(Key.size() + 1);
    return {};
}

// The frame times that the encoding run computes: from the index, never summed.
int64_t FrameTime(int64_t Index, uint32_t RateN, uint32_t RateD)
{
    return static_cast<int64_t>(static_cast<__int128>(Index) * 10'000'000 * RateD / RateN);
}

struct Rgb
{
    uint8_t R, G, B;
};

// A picture that shows orientation and colour order, smooth as a rendered
// one is: pure red, green and blue at a sixth, a half and five sixths of
// the width across the top half, blending between; below, a grey ramp from
// black to white that moves with the frame index.
Rgb Pattern(int X, int Y, int Width, int Height, int Frame)
{
    auto Bump = [&](double Centre) {
        return static_cast<uint8_t>(255 * std::max(0.0, 1 - std::abs(double(X) / Width - Centre) * 3));
    };
    if (Y < Height / 2)
        return {Bump(1.0 / 6), Bump(1.0 / 2), Bump(5.0 / 6)};
    const double Ramp = (X - Width / 8.0 + Frame * 2) / (Width * 3 / 4.0);
    const auto Grey = static_cast<uint8_t>(255 * std::clamp(Ramp, 0.0, 1.0));
    return {Grey, Grey, Grey};
}

void FillBgra(FfmpegHostFrame& Frame, int Width, int Height, int Index)
{
    for (int Y = 0; Y < Height; ++Y)
        for (int X = 0; X < Width; ++X)
        {
            const Rgb Colour = Pattern(X, Y, Width, Height, Index);
            uint8_t* Pixel = Frame.Planes[0] + Y * Frame.Pitches[0] + X * 4;
            Pixel[0] = Colour.B;
            Pixel[1] = Colour.G;
            Pixel[2] = Colour.R;
            Pixel[3] = 255;
        }
}

class FfmpegVideoWriterTest : public testing::Test
{
protected:
    void SetUp() override
    {
        char Template[] = "/tmp/ostrel-writer-XXXXXX";
        ASSERT_NE(mkdtemp(Template), nullptr);
        m_Folder = Template;
    }
    void TearDown() override
    {
        std::error_code Error;
        fs::permissions(m_Folder, fs::perms::owner_all, Error);
        fs::remove_all(m_Folder, Error);
    }

    static FfmpegVideoSettings Settings(uint32_t Width, uint32_t Height, uint32_t RateN, uint32_t RateD,
                                        uint32_t Bitrate = 1'000'000)
    {
        FfmpegVideoSettings Result;
        Result.Width = Width;
        Result.Height = Height;
        Result.FrameRateN = RateN;
        Result.FrameRateD = RateD;
        Result.AverageBitrate = Bitrate;
        return Result;
    }

    // Writes FrameCount frames of the pattern (Noise: random pixels instead)
    // with the encoding run's times.
    FfmpegError WriteVideo(const std::string& Path, const FfmpegVideoSettings& Video, int FrameCount,
                           bool Noise = false)
    {
        FfmpegVideoWriter Writer;
        FfmpegError Result = Writer.Open(Path);
        if (!Result.Failed())
            Result = Writer.SetVideoStream(Video);
        if (!Result.Failed())
            Result = Writer.BeginWriting();
        if (Result.Failed())
            return Result;
        FfmpegFramePool Pool;
        EXPECT_EQ(Pool.Initialize(Video.InputFormat, Video.Width, Video.Height, 3), Ok);
        uint32_t Seed = 12345;
        const int Width = static_cast<int>(Video.Width), Height = static_cast<int>(Video.Height);
        for (int Index = 0; Index < FrameCount && !Result.Failed(); ++Index)
        {
            FfmpegHostFrame* Frame = Pool.Acquire();
            if (Noise)
                for (int Y = 0; Y < Height; ++Y)
                    for (int X = 0; X < Width * 4; ++X)
                        Frame->Planes[0][Y * Frame->Pitches[0] + X] =
                            static_cast<uint8_t>((Seed = Seed * 1664525 + 1013904223) >> 24);
            else
                FillBgra(*Frame, Width, Height, Index);
            const int64_t Time = FrameTime(Index, Video.FrameRateN, Video.FrameRateD);
            Result = Writer.Write(Frame, Time, FrameTime(Index + 1, Video.FrameRateN, Video.FrameRateD) - Time);
        }
        if (!Result.Failed())
            Result = Writer.Finalize();
        EXPECT_EQ(Writer.EncoderName().empty(), false);
        return Result;
    }

    std::string Path(const std::string& Name) const { return m_Folder + "/" + Name; }

    std::string m_Folder;
};

struct RateCase
{
    uint32_t RateN, RateD;
    int Seconds;
    const char* Extension;
};

} // namespace

TEST_F(FfmpegVideoWriterTest, FrameCountTimesAndStreamDescription)
{
    const RateCase Cases[] = {
        {60000, 1000, 1, "mp4"}, {30000, 1001, 3, "mp4"}, {25, 1, 1, "mp4"},
        {30000, 1001, 3, "mkv"}, {60000, 1000, 1, "mov"}, {25, 1, 1, "M4V"},
    };
    for (const RateCase& Case : Cases)
    {
        SCOPED_TRACE(testing::Message() << Case.RateN << "/" << Case.RateD << " ." << Case.Extension);
        const std::string File = Path(std::string("rate.") + Case.Extension);
        // The frame count as the run computes it: MulDiv(seconds, N, D).
        const int FrameCount = static_cast<int>(std::lround(double(Case.Seconds) * Case.RateN / Case.RateD));
        ASSERT_EQ(WriteVideo(File, Settings(64, 48, Case.RateN, Case.RateD), FrameCount), Ok);

        const std::string Stream = Shell("ffprobe -v error -select_streams v:0 -show_entries "
                                         "stream=codec_name,width,height,r_frame_rate,time_base,field_order,"
                                         "color_range,color_space,color_transfer,color_primaries:format=format_name "
                                         "-of default=nw=1 " +
                                         File);
        EXPECT_EQ(Field(Stream, "codec_name"), "h264");
        EXPECT_EQ(Field(Stream, "width"), "64");
        EXPECT_EQ(Field(Stream, "height"), "48");
        EXPECT_EQ(Field(Stream, "color_range"), "tv");
        EXPECT_EQ(Field(Stream, "color_space"), "bt709");
        EXPECT_EQ(Field(Stream, "color_transfer"), "bt709");
        EXPECT_EQ(Field(Stream, "color_primaries"), "bt709");
        EXPECT_EQ(Field(Stream, "field_order"), "progressive");
        int Gcd = std::gcd(Case.RateN, Case.RateD);
        EXPECT_EQ(Field(Stream, "r_frame_rate"),
                  std::to_string(Case.RateN / Gcd) + "/" + std::to_string(Case.RateD / Gcd));
        const std::string Format = Field(Stream, "format_name");
        EXPECT_NE(Format.find(Case.Extension == std::string("mkv") ? "matroska" : "mp4"), std::string::npos) << Format;

        // Presentation times: each frame at its time rounded to the
        // container's time base, exactly; durations add up without drift.
        int TimeBaseNum = 0, TimeBaseDen = 0;
        ASSERT_EQ(sscanf(Field(Stream, "time_base").c_str(), "%d/%d", &TimeBaseNum, &TimeBaseDen), 2);
        const auto Packets = Lines(Shell("ffprobe -v error -select_streams v:0 -show_entries packet=pts,duration,flags "
                                         "-of csv=p=0 " +
                                         File));
        ASSERT_EQ(static_cast<int>(Packets.size()), FrameCount);
        std::vector<std::pair<int64_t, int64_t>> Times; // pts, duration
        for (const std::string& Line : Packets)
        {
            long long Pts = 0, Duration = 0;
            char Flags[8] = {};
            ASSERT_EQ(sscanf(Line.c_str(), "%lld,%lld,%7s", &Pts, &Duration, Flags), 3) << Line;
            Times.emplace_back(Pts, Duration);
            if (Times.size() == 1)
            {
                EXPECT_EQ(Flags[0], 'K') << "the first frame is a key frame";
            }
        }
        std::sort(Times.begin(), Times.end());
        auto InContainer = [&](int64_t Time) {
            return static_cast<int64_t>(std::llround(double(Time) * TimeBaseDen / (10'000'000.0 * TimeBaseNum)));
        };
        // Matroska keeps no duration per frame; readers take its track's
        // default duration, rounded once.
        const bool FrameDurations = Format.find("matroska") == std::string::npos;
        for (int Index = 0; Index < FrameCount; ++Index)
        {
            ASSERT_EQ(Times[Index].first, InContainer(FrameTime(Index, Case.RateN, Case.RateD))) << Index;
            if (FrameDurations)
            {
                EXPECT_EQ(Times[Index].second, InContainer(FrameTime(Index + 1, Case.RateN, Case.RateD)) -
                                                   InContainer(FrameTime(Index, Case.RateN, Case.RateD)))
                    << Index;
            }
        }
        if (Case.RateN == 30000 && Case.RateD == 1001)
        {
            EXPECT_EQ(Times[1].first, InContainer(333666));
        }
    }
}

TEST_F(FfmpegVideoWriterTest, DecodedPicturesMatchTheInput)
{
    constexpr int Width = 640, Height = 360, FrameCount = 10;
    const std::string File = Path("picture.mp4");
    ASSERT_EQ(WriteVideo(File, Settings(Width, Height, 30, 1, 10'000'000), FrameCount), Ok);

    // Decoded by ffmpeg, read as BT.709 limited range, into RGB.
    const std::string Raw = Path("picture.rgb");
    Shell("ffmpeg -v error -i " + File +
          " -vf scale=in_color_matrix=bt709:in_range=tv:flags=accurate_rnd+full_chroma_int,format=rgb24"
          " -f rawvideo " +
          Raw);
    std::ifstream Input(Raw, std::ios::binary);
    std::vector<uint8_t> Pixels((std::istreambuf_iterator<char>(Input)), std::istreambuf_iterator<char>());
    ASSERT_EQ(Pixels.size(), size_t(Width) * Height * 3 * FrameCount);

    for (int Frame = 0; Frame < FrameCount; ++Frame)
    {
        const uint8_t* Decoded = Pixels.data() + size_t(Frame) * Width * Height * 3;
        double SquaredError = 0;
        for (int Y = 0; Y < Height; ++Y)
            for (int X = 0; X < Width; ++X)
            {
                const Rgb Expected = Pattern(X, Y, Width, Height, Frame);
                const uint8_t* Got = Decoded + (Y * Width + X) * 3;
                for (int Channel = 0; Channel < 3; ++Channel)
                {
                    const double Difference = double(Got[Channel]) - (&Expected.R)[Channel];
                    SquaredError += Difference * Difference;
                }
            }
        const double Psnr = 10 * std::log10(255.0 * 255.0 / (SquaredError / (Width * Height * 3)));
        EXPECT_GE(Psnr, 35.0) << "frame " << Frame;

        // Colour order, range and orientation at known spots.
        struct Spot
        {
            int X, Y;
        };
        for (Spot At : {Spot{Width / 6, Height / 4}, Spot{Width / 2, Height / 4}, Spot{Width * 5 / 6, Height / 4},
                        Spot{Width / 32, Height * 3 / 4}, Spot{Width - Width / 32, Height * 3 / 4}})
        {
            const Rgb Expected = Pattern(At.X, At.Y, Width, Height, Frame);
            const uint8_t* Got = Decoded + (At.Y * Width + At.X) * 3;
            EXPECT_NEAR(Got[0], Expected.R, 6) << At.X << "," << At.Y;
            EXPECT_NEAR(Got[1], Expected.G, 6) << At.X << "," << At.Y;
            EXPECT_NEAR(Got[2], Expected.B, 6) << At.X << "," << At.Y;
        }
    }
}

TEST_F(FfmpegVideoWriterTest, Nv12PlanesKeepTheirValues)
{
    constexpr int Width = 160, Height = 90;
    FfmpegVideoSettings Video = Settings(Width, Height, 25, 1, 4'000'000);
    Video.InputFormat = FfmpegInputFormat::Nv12;
    FfmpegVideoWriter Writer;
    const std::string File = Path("nv12.mkv");
    ASSERT_EQ(Writer.Open(File), Ok);
    ASSERT_EQ(Writer.SetVideoStream(Video), Ok);
    ASSERT_EQ(Writer.BeginWriting(), Ok);
    FfmpegFramePool Pool;
    ASSERT_EQ(Pool.Initialize(FfmpegInputFormat::Nv12, Width, Height, 2), Ok);
    for (int Index = 0; Index < 5; ++Index)
    {
        FfmpegHostFrame* Frame = Pool.Acquire();
        // Y: dark left half, bright right half; U 90 and V 200 (interleaved U first).
        for (int Y = 0; Y < Height; ++Y)
            for (int X = 0; X < Width; ++X)
                Frame->Planes[0][Y * Frame->Pitches[0] + X] = X < Width / 2 ? 40 : 200;
        for (int Y = 0; Y < Height / 2; ++Y)
            for (int X = 0; X < Width / 2; ++X)
            {
                Frame->Planes[1][Y * Frame->Pitches[1] + 2 * X] = 90;
                Frame->Planes[1][Y * Frame->Pitches[1] + 2 * X + 1] = 200;
            }
        ASSERT_EQ(Writer.Write(Frame, Index * 400000LL, 400000), Ok);
    }
    ASSERT_EQ(Writer.Finalize(), Ok);

    const std::string Raw = Path("nv12.yuv");
    Shell("ffmpeg -v error -i " + File + " -f rawvideo -pix_fmt yuv420p " + Raw);
    std::ifstream Input(Raw, std::ios::binary);
    std::vector<uint8_t> Planes((std::istreambuf_iterator<char>(Input)), std::istreambuf_iterator<char>());
    const size_t FrameSize = Width * Height * 3 / 2;
    ASSERT_EQ(Planes.size(), FrameSize * 5);
    const uint8_t* Last = Planes.data() + FrameSize * 4;
    EXPECT_NEAR(Last[Height / 2 * Width + Width / 4], 40, 3);
    EXPECT_NEAR(Last[Height / 2 * Width + Width * 3 / 4], 200, 3);
    EXPECT_NEAR(Last[Width * Height + 10], 90, 3);                       // U
    EXPECT_NEAR(Last[Width * Height + Width * Height / 4 + 10], 200, 3); // V
}

TEST_F(FfmpegVideoWriterTest, BitRateComesNearTheTarget)
{
    const std::string File = Path("rate.mp4");
    ASSERT_EQ(WriteVideo(File, Settings(320, 180, 30, 1, 800'000), 90, true), Ok);
    const double Bitrate = std::atof(Field(Shell("ffprobe -v error -select_streams v:0 -show_entries stream=bit_rate "
                                                 "-of default=nw=1 " +
                                                 File),
                                           "bit_rate")
                                         .c_str());
    EXPECT_GT(Bitrate, 800'000 * 0.8);
    EXPECT_LT(Bitrate, 800'000 * 1.2);
}

TEST_F(FfmpegVideoWriterTest, HardwareAllowedStillWrites)
{
    FfmpegVideoSettings Video = Settings(64, 48, 30, 1);
    Video.AllowHardware = true;
    FfmpegVideoWriter Writer;
    ASSERT_EQ(Writer.Open(Path("hw.mp4")), Ok);
    ASSERT_EQ(Writer.SetVideoStream(Video), Ok);
    ASSERT_EQ(Writer.BeginWriting(), Ok);
    const std::string Name = Writer.EncoderName();
    EXPECT_TRUE(Name == "libx264" || Name == "h264_nvenc" || Name == "h264_vaapi") << Name;
    FfmpegFramePool Pool;
    ASSERT_EQ(Pool.Initialize(FfmpegInputFormat::B8G8R8A8, 64, 48, 1), Ok);
    FfmpegHostFrame* Frame = Pool.Acquire();
    FillBgra(*Frame, 64, 48, 0);
    ASSERT_EQ(Writer.Write(Frame, 0, 333333), Ok);
    EXPECT_EQ(Writer.Finalize(), Ok);
}

TEST_F(FfmpegVideoWriterTest, PathsThatCannotTakeTheVideo)
{
    for (const char* Name : {"out.txt", "out.webm", "out", "folder.mp4/out", "out.mp4.part"})
        EXPECT_EQ(FfmpegVideoWriter().Open(Path(Name)), Kind::UnsupportedContainer) << Name;

    EXPECT_EQ(FfmpegVideoWriter().Open(Path("missing/out.mp4")), FfmpegError(Kind::FileCreation, ENOENT));
    std::ofstream(Path("file")) << "x";
    EXPECT_EQ(FfmpegVideoWriter().Open(Path("file/out.mp4")), FfmpegError(Kind::FileCreation, ENOTDIR));
    EXPECT_FALSE(fs::exists(Path("missing")));

    // A folder that refuses new files. Root passes permission bits, so as
    // root a folder of sysfs stands in, which refuses everyone.
    std::string Folder = Path("locked");
    FfmpegError Expected = FfmpegError(Kind::FileCreation, EACCES);
    if (geteuid() == 0)
    {
        Folder = "/sys";
        const int Probe = open("/sys/ostrel-probe.mp4", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (Probe >= 0)
        {
            close(Probe);
            GTEST_SKIP() << "/sys takes files here";
        }
        if (errno == EROFS)
            Expected = FfmpegError(Kind::FileCreation, EROFS);
        else if (errno != EACCES)
            GTEST_SKIP() << "no folder refuses root here";
    }
    else
    {
        fs::create_directory(Folder);
        fs::permissions(Folder, fs::perms::owner_read | fs::perms::owner_exec);
    }
    FfmpegVideoWriter Writer;
    FfmpegError Result = Writer.Open(Folder + "/out.mp4");
    if (!Result.Failed())
        Result = Writer.SetVideoStream(Settings(64, 48, 30, 1));
    if (!Result.Failed())
        Result = Writer.BeginWriting();
    EXPECT_EQ(Result, Expected);
}

TEST_F(FfmpegVideoWriterTest, ThePathKeepsItsFileUntilTheVideoIsComplete)
{
    const std::string File = Path("kept.mp4");
    auto Earlier = [&] {
        std::ifstream Stream(File);
        return std::string(std::istreambuf_iterator<char>(Stream), std::istreambuf_iterator<char>());
    };
    std::ofstream(File) << "earlier";
    {
        // No frame: nothing to put in place.
        FfmpegVideoWriter Writer;
        ASSERT_EQ(Writer.Finalize(), Kind::InvalidRequest);
        ASSERT_EQ(Writer.Open(File), Ok);
        ASSERT_EQ(Writer.BeginWriting(), Kind::NoStreams);
        ASSERT_EQ(Writer.SetVideoStream(Settings(64, 48, 30, 1)), Ok);
        ASSERT_EQ(Writer.BeginWriting(), Ok);
        EXPECT_EQ(Earlier(), "earlier");
        EXPECT_EQ(Writer.Finalize(), Kind::NoFrames);
        EXPECT_EQ(Writer.Finalize(), Kind::InvalidRequest);
    }
    EXPECT_EQ(Earlier(), "earlier");
    {
        // Frames written, but the writer goes without Finalize.
        FfmpegFramePool Pool;
        ASSERT_EQ(Pool.Initialize(FfmpegInputFormat::B8G8R8A8, 64, 48, 2), Ok);
        FfmpegVideoWriter Writer;
        ASSERT_EQ(Writer.Open(File), Ok);
        ASSERT_EQ(Writer.SetVideoStream(Settings(64, 48, 30, 1)), Ok);
        ASSERT_EQ(Writer.BeginWriting(), Ok);
        for (int Index = 0; Index < 20; ++Index)
        {
            FfmpegHostFrame* Frame = Pool.Acquire();
            FillBgra(*Frame, 64, 48, Index);
            ASSERT_EQ(Writer.Write(Frame, FrameTime(Index, 30, 1), 333333), Ok);
        }
        EXPECT_EQ(Earlier(), "earlier");
    }
    EXPECT_EQ(Earlier(), "earlier");
    {
        // The folder goes while the video is written: Finalize cannot put
        // the video in place and says so.
        fs::create_directory(Path("gone"));
        FfmpegFramePool Pool;
        ASSERT_EQ(Pool.Initialize(FfmpegInputFormat::B8G8R8A8, 64, 48, 2), Ok);
        FfmpegVideoWriter Writer;
        ASSERT_EQ(Writer.Open(Path("gone/out.mp4")), Ok);
        ASSERT_EQ(Writer.SetVideoStream(Settings(64, 48, 30, 1)), Ok);
        ASSERT_EQ(Writer.BeginWriting(), Ok);
        FfmpegHostFrame* Frame = Pool.Acquire();
        FillBgra(*Frame, 64, 48, 0);
        ASSERT_EQ(Writer.Write(Frame, 0, 333333), Ok);
        ASSERT_TRUE(fs::remove(Path("gone")));
        EXPECT_EQ(Writer.Finalize(), FfmpegError(Kind::FileCreation, ENOENT));
    }
    // Nothing else was left in the folder.
    EXPECT_EQ(std::distance(fs::directory_iterator(m_Folder), fs::directory_iterator()), 1);
}

TEST_F(FfmpegVideoWriterTest, StreamSettingsAndCallOrder)
{
    FfmpegVideoWriter Writer;
    ASSERT_EQ(Writer.SetVideoStream(Settings(64, 48, 30, 1)), Kind::InvalidRequest);
    ASSERT_EQ(Writer.Open(Path("order.mp4")), Ok);
    EXPECT_EQ(Writer.Open(Path("order.mp4")), Kind::InvalidRequest);
    EXPECT_EQ(Writer.SetVideoStream(Settings(63, 48, 30, 1)), Kind::InvalidSettings);
    EXPECT_EQ(Writer.SetVideoStream(Settings(0, 48, 30, 1)), Kind::InvalidSettings);
    EXPECT_EQ(Writer.SetVideoStream(Settings(64, 48, 30, 0)), Kind::InvalidSettings);
    FfmpegVideoSettings NoAspect = Settings(64, 48, 30, 1);
    NoAspect.PixelAspectD = 0;
    EXPECT_EQ(Writer.SetVideoStream(NoAspect), Kind::InvalidSettings);
    ASSERT_EQ(Writer.SetVideoStream(Settings(64, 48, 30, 1)), Ok);
    EXPECT_EQ(Writer.SetVideoStream(Settings(64, 48, 30, 1)), Kind::StreamsFixed);

    FfmpegFramePool Pool;
    ASSERT_EQ(Pool.Initialize(FfmpegInputFormat::B8G8R8A8, 64, 48, 2), Ok);
    // Refused frames come back to the pool at once.
    EXPECT_EQ(Writer.Write(Pool.Acquire(), 0, 333333), Kind::InvalidRequest);
    EXPECT_EQ(Pool.FreeCount(), 2u);
    ASSERT_EQ(Writer.BeginWriting(), Ok);
    EXPECT_EQ(Writer.Write(nullptr, 0, 0), Kind::InvalidArgument);
    FfmpegHostFrame* Frame = Pool.Acquire();
    FillBgra(*Frame, 64, 48, 0);
    ASSERT_EQ(Writer.Write(Frame, 0, 333333), Ok);
    // A time that lands on the tick of the frame before, or before zero.
    EXPECT_EQ(Writer.Write(Pool.Acquire(), 100000, 333333), Kind::InvalidTimestamp);
    EXPECT_EQ(Writer.Write(Pool.Acquire(), -333333, 333333), Kind::InvalidTimestamp);
    Frame = Pool.Acquire();
    FillBgra(*Frame, 64, 48, 1);
    ASSERT_EQ(Writer.Write(Frame, 333333, 333333, FfmpegFrameKeyFrame), Ok);
    ASSERT_EQ(Writer.Finalize(), Ok);
    EXPECT_EQ(Pool.FreeCount(), 2u);
    EXPECT_EQ(Writer.Write(Pool.Acquire(), 666666, 333333), Kind::InvalidRequest);
    EXPECT_EQ(Pool.FreeCount(), 2u);
    const auto Packets = Lines(Shell("ffprobe -v error -show_entries packet=flags -of csv=p=0 " + Path("order.mp4")));
    ASSERT_EQ(Packets.size(), 2u);
    EXPECT_EQ(Packets[1][0], 'K') << "the key frame asked for";
}

namespace {

// Frames of its own that give their pixels slowly, or not at all, and
// count what the writer does with them.
class SlowFrames
{
public:
    struct Frame final : FfmpegFrameSource
    {
        SlowFrames* Owner = nullptr;
        std::vector<uint8_t> Pixels;
        FfmpegError Lock(FfmpegFrameView& View) override
        {
            std::this_thread::sleep_for(Owner->Delay);
            if (Owner->LockResult.Failed())
                return Owner->LockResult;
            View.Planes[0] = Pixels.data();
            View.Pitches[0] = 64 * 4;
            return Ok;
        }
        void Release() override { ++Owner->Released; }
    };

    explicit SlowFrames(size_t Count, std::chrono::milliseconds LockDelay) : Delay(LockDelay), Frames(Count)
    {
        for (Frame& Item : Frames)
        {
            Item.Owner = this;
            Item.Pixels.assign(64 * 48 * 4, 128);
        }
    }

    std::chrono::milliseconds Delay;
    FfmpegError LockResult = Ok;
    std::atomic<int> Released{0};
    std::vector<Frame> Frames;
};

// Run again under ThreadSanitizer.
class FfmpegVideoWriterConcurrency : public FfmpegVideoWriterTest
{};

} // namespace

TEST_F(FfmpegVideoWriterConcurrency, SlowConsumerBlocksWriteAndLosesNothing)
{
    // The worker takes 5 ms a frame; two may wait. Write blocks, never
    // drops, and every frame ends in the file.
    FfmpegVideoSettings Video = Settings(64, 48, 30, 1);
    Video.QueueCapacity = 2;
    SlowFrames Source(24, std::chrono::milliseconds(5));
    FfmpegVideoWriter Writer;
    ASSERT_EQ(Writer.Open(Path("slow.mkv")), Ok);
    ASSERT_EQ(Writer.SetVideoStream(Video), Ok);
    ASSERT_EQ(Writer.BeginWriting(), Ok);
    for (size_t Index = 0; Index < Source.Frames.size(); ++Index)
        ASSERT_EQ(Writer.Write(&Source.Frames[Index], FrameTime(Index, 30, 1), 333333), Ok);
    ASSERT_EQ(Writer.Finalize(), Ok);
    const auto Statistics = Writer.GetStatistics();
    EXPECT_EQ(Source.Released, 24);
    EXPECT_EQ(Statistics.FramesEncoded, 24u);
    EXPECT_LE(Statistics.MaximumQueued, 2u);
    EXPECT_GT(Statistics.WriteWaits, 0u);
    EXPECT_EQ(Lines(Shell("ffprobe -v error -show_entries packet=pts -of csv=p=0 " + Path("slow.mkv"))).size(), 24u);
}

TEST_F(FfmpegVideoWriterConcurrency, WorkerFailureReachesTheWriterAndEveryFrameComesBack)
{
    FfmpegVideoSettings Video = Settings(64, 48, 30, 1);
    Video.QueueCapacity = 2;
    SlowFrames Source(8, std::chrono::milliseconds(1));
    // The source's own code comes back unread.
    const FfmpegError Failure(Kind::FrameSource, -1234);
    Source.LockResult = Failure;
    FfmpegVideoWriter Writer;
    ASSERT_EQ(Writer.Open(Path("failed.mp4")), Ok);
    ASSERT_EQ(Writer.SetVideoStream(Video), Ok);
    ASSERT_EQ(Writer.BeginWriting(), Ok);
    FfmpegError Result = Ok;
    int Written = 0;
    // Eight frames, two of which may wait: a later Write learns of the failure.
    for (size_t Index = 0; Index < Source.Frames.size() && !Result.Failed(); ++Index, ++Written)
        Result = Writer.Write(&Source.Frames[Index], FrameTime(Index, 30, 1), 333333);
    EXPECT_EQ(Result, Failure);
    // Finalize still answers the failure, once every queued frame is back.
    EXPECT_EQ(Writer.Finalize(), Failure);
    EXPECT_EQ(Source.Released, Written);
    EXPECT_FALSE(fs::exists(Path("failed.mp4"))) << "no part of a failed video is left";

    // Destroyed without Finalize, with frames waiting: all come back.
    SlowFrames Waiting(6, std::chrono::milliseconds(20));
    {
        FfmpegVideoWriter Other;
        ASSERT_EQ(Other.Open(Path("dropped.mp4")), Ok);
        ASSERT_EQ(Other.SetVideoStream(Video), Ok);
        ASSERT_EQ(Other.BeginWriting(), Ok);
        for (size_t Index = 0; Index < 3; ++Index)
            ASSERT_EQ(Other.Write(&Waiting.Frames[Index], FrameTime(Index, 30, 1), 333333), Ok);
    }
    EXPECT_EQ(Waiting.Released, 3);
    EXPECT_FALSE(fs::exists(Path("dropped.mp4")));
}

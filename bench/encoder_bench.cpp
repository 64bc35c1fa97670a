// Times the FFmpeg video writer on pre-loaded BGRA frames: conversion alone,
// then conversion, encoding and muxing through the writer, optionally with
// a producer thread that keeps one core busy per frame as rendering would.
//
//   ostrel_encoder_bench SOURCE.bgra WIDTH HEIGHT FRAMES RATE BITRATE PRESET OUTPUT [RENDER_MS]
//
// SOURCE holds raw B8G8R8A8 frames; they are played in a loop.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
}

#include "ffmpeg/FfmpegFrameConverter.h"
#include "Ffmpeg/FfmpegVideoWriter.h"

using namespace Platform;
using Clock = std::chrono::steady_clock;

namespace {

// A pre-loaded frame: read in place, never changed.
struct LoadedFrame final : FfmpegFrameSource
{
    std::vector<uint8_t> Pixels;
    int Pitch = 0;
    FfmpegError Lock(FfmpegFrameView& View) override
    {
        View.Planes[0] = Pixels.data();
        View.Pitches[0] = Pitch;
        return {};
    }
    void Release() override {}
};

double Seconds(Clock::duration Span) { return std::chrono::duration<double>(Span).count(); }

// A fixed amount of work standing in for the CPU rasteriser: it takes longer
// when it has to share its core, as rendering would.
void Work(uint64_t Rounds)
{
    volatile uint64_t Sink = 0;
    for (uint64_t Round = 0; Round < Rounds; ++Round)
        Sink = Sink + Round;
}

uint64_t RoundsFor(double Milliseconds)
{
    // The fastest of a few probes: the others met interference.
    constexpr uint64_t Probe = 10'000'000;
    double Best = 1e9;
    for (int Attempt = 0; Attempt < 5; ++Attempt)
    {
        const auto Start = Clock::now();
        Work(Probe);
        Best = std::min(Best, Seconds(Clock::now() - Start));
    }
    return static_cast<uint64_t>(Probe * Milliseconds / (Best * 1000));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 9)
    {
        std::fprintf(stderr, "usage: %s SOURCE WIDTH HEIGHT FRAMES RATE BITRATE PRESET OUTPUT [RENDER_MS]\n", argv[0]);
        return 2;
    }
    const std::string Source = argv[1];
    const auto Width = static_cast<uint32_t>(std::atoi(argv[2]));
    const auto Height = static_cast<uint32_t>(std::atoi(argv[3]));
    const int FrameCount = std::atoi(argv[4]);
    const auto Rate = static_cast<uint32_t>(std::atoi(argv[5]));
    const auto Bitrate = static_cast<uint32_t>(std::atol(argv[6]));
    const std::string Preset = argv[7];
    const std::string Output = argv[8];
    const double RenderMilliseconds = argc > 9 ? std::atof(argv[9]) : 0;

    std::vector<LoadedFrame> Frames;
    {
        std::ifstream Input(Source, std::ios::binary);
        const size_t Size = size_t(Width) * Height * 4;
        for (;;)
        {
            LoadedFrame Frame;
            Frame.Pixels.resize(Size);
            Frame.Pitch = static_cast<int>(Width * 4);
            if (!Input.read(reinterpret_cast<char*>(Frame.Pixels.data()), static_cast<std::streamsize>(Size)))
                break;
            Frames.push_back(std::move(Frame));
        }
    }
    if (Frames.empty())
    {
        std::fprintf(stderr, "no frames in %s\n", Source.c_str());
        return 1;
    }

    // Conversion alone, as the worker does it (all cores).
    double ConvertSeconds = 0;
    if (RenderMilliseconds == 0)
    {
        FfmpegFrameConverter Converter;
        AVFrame* Frame = av_frame_alloc();
        Frame->format = AV_PIX_FMT_YUV420P;
        Frame->width = static_cast<int>(Width);
        Frame->height = static_cast<int>(Height);
        if (Converter.Initialize(FfmpegInputFormat::B8G8R8A8, Width, Height, AV_PIX_FMT_YUV420P) < 0 ||
            av_frame_get_buffer(Frame, 0) < 0)
            return 1;
        const auto Start = Clock::now();
        for (int Index = 0; Index < FrameCount; ++Index)
        {
            FfmpegFrameView View;
            Frames[Index % Frames.size()].Lock(View);
            if (Converter.Convert(View, Frame) < 0)
                return 1;
        }
        ConvertSeconds = Seconds(Clock::now() - Start);
        av_frame_free(&Frame);
    }

    const uint64_t RenderRounds = RenderMilliseconds > 0 ? RoundsFor(RenderMilliseconds) : 0;
    double RenderAloneSeconds = 0;
    if (RenderRounds > 0)
    {
        constexpr int AloneFrames = 100;
        const auto AloneStart = Clock::now();
        for (int Index = 0; Index < AloneFrames; ++Index)
            Work(RenderRounds);
        RenderAloneSeconds = Seconds(Clock::now() - AloneStart) * FrameCount / AloneFrames;
    }

    FfmpegVideoSettings Settings;
    Settings.Width = Width;
    Settings.Height = Height;
    Settings.FrameRateN = Rate;
    Settings.FrameRateD = 1;
    Settings.AverageBitrate = Bitrate;
    Settings.Preset = Preset;
    // OSTREL_BENCH_ERROR=1: with the encoder's measure of its error (as a
    // run with OSTREL_QUALITY=1), to weigh what the measure costs.
    const char* MeasureError = std::getenv("OSTREL_BENCH_ERROR");
    Settings.MeasureError = MeasureError && std::string(MeasureError) == "1";
    FfmpegVideoWriter Writer;
    FfmpegError Result = Writer.Open(Output);
    if (!Result.Failed())
        Result = Writer.SetVideoStream(Settings);
    if (!Result.Failed())
        Result = Writer.BeginWriting();
    const auto Start = Clock::now();
    double RenderSeconds = 0;
    for (int Index = 0; Index < FrameCount && !Result.Failed(); ++Index)
    {
        if (RenderMilliseconds > 0)
        {
            const auto RenderStart = Clock::now();
            Work(RenderRounds);
            RenderSeconds += Seconds(Clock::now() - RenderStart);
        }
        const int64_t Time = Index * 10'000'000LL / Rate;
        Result = Writer.Write(&Frames[Index % Frames.size()], Time, (Index + 1) * 10'000'000LL / Rate - Time);
    }
    if (!Result.Failed())
        Result = Writer.Finalize();
    const double EncodeSeconds = Seconds(Clock::now() - Start);
    if (Result.Failed())
    {
        std::fprintf(stderr, "writer failed: kind %d, code %d\n", static_cast<int>(Result.What), Result.Code);
        return 1;
    }
    const auto Statistics = Writer.GetStatistics();
    if (RenderMilliseconds == 0)
        std::printf(
            "preset %-9s convert %6.1f fps (%5.2f ms)  convert+encode+mux %6.1f fps (%5.2f ms)  queue waits %llu\n",
            Preset.c_str(), FrameCount / ConvertSeconds, ConvertSeconds * 1000 / FrameCount, FrameCount / EncodeSeconds,
            EncodeSeconds * 1000 / FrameCount, static_cast<unsigned long long>(Statistics.WriteWaits));
    else
        std::printf("preset %-9s with %.0f ms of rendering work a frame: %6.1f fps end to end "
                    "(render alone %5.1f fps, %5.1f fps while encoding)\n",
                    Preset.c_str(), RenderMilliseconds, FrameCount / EncodeSeconds, FrameCount / RenderAloneSeconds,
                    FrameCount / RenderSeconds);
    return 0;
}

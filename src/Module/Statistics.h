// Where the encoding run's time went.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include <windows.h>

#include <mfidl.h>
#include <mfreadwrite.h>

#include "Application.h"

// Where the run's time went: the rendering thread's own stamps (drawing
// and copying each frame, waiting for a free sample, handing samples to
// the writer) and the sink writer's figures where it offers them (the
// device's busy time, the writer's readback, conversion, encoding and
// muxing). After the run: one summary line on standard error when that
// is a console, and a JSON object in the file that OSTREL_STATISTICS
// names.
class Application::Statistics
{
public:
    using Clock = std::chrono::steady_clock;

    // Per-frame times in seconds.
    struct Percentiles
    {
        double m_P50 = 0, m_P90 = 0, m_P99 = 0, m_Max = 0;
    };

    struct Figures
    {
        std::wstring m_Adapter;
        std::wstring m_Encoder; // empty when the writer does not say
        UINT32 m_Frames = 0;
        double m_ElapsedSeconds = 0;
        // Totals in seconds: the rendering thread's.
        double m_Submit = 0, m_WaitForSample = 0, m_WaitForWriter = 0;
        // The device's busy time, where the writer knows it.
        bool m_DeviceKnown = false;
        double m_Device = 0;
        // The writer's stages, where it tells them.
        bool m_WriterStages = false;
        double m_Readback = 0, m_Convert = 0, m_Encode = 0, m_Mux = 0;
        // How the frames reached the encoder ("in-place", "cuda",
        // "readback-nv12", "readback-bgra") and the bytes copied on the
        // way, where the writer tells them.
        std::wstring m_FramePath;
        bool m_BytesCopiedKnown = false;
        UINT64 m_BytesCopied = 0;

        // A run that a console control event stopped: its figures so far.
        bool m_Interrupted = false;
        // The video's frame rate (frames a second), for its length.
        double m_FrameRate = 0;
        // The bytes of the stream muxed, where the writer tells them, and
        // the size of the file written.
        bool m_BytesMuxedKnown = false;
        UINT64 m_BytesMuxed = 0;
        bool m_FileBytesKnown = false;
        UINT64 m_FileBytes = 0;
        // The process's processor time over the run, user and kernel.
        bool m_CpuKnown = false;
        double m_Cpu = 0;
        // Each frame's time from WriteSample to its packet being muxed.
        bool m_LatencyKnown = false;
        Percentiles m_Latency;
        // The encoder's error against its input, where it measures it.
        bool m_PsnrKnown = false;
        double m_PsnrY = 0, m_PsnrAverage = 0;
        bool m_SsimKnown = false;
        double m_Ssim = 0;

        // Seconds a frame of rendering and copying: on the device where
        // its time is known, else on the rendering thread.
        double Render() const { return m_DeviceKnown ? m_Device : m_Submit; }
        // Frames written a second; the video's length in seconds, its speed
        // against real time and the bit rate achieved (bits a second): 0
        // where not known.
        double Fps() const { return m_ElapsedSeconds > 0 ? m_Frames / m_ElapsedSeconds : 0.0; }
        double VideoSeconds() const { return m_FrameRate > 0 ? m_Frames / m_FrameRate : 0.0; }
        double Speed() const { return m_ElapsedSeconds > 0 ? VideoSeconds() / m_ElapsedSeconds : 0.0; }
        double Bitrate() const { return VideoSeconds() > 0 ? m_BytesMuxed * 8.0 / VideoSeconds() : 0.0; }
    };

    // Takes the process's processor time so far, for the run's.
    Statistics();

    // Adds the time since Start to a total.
    void Submit(Clock::time_point Start) { m_Submit += Clock::now() - Start; }
    void WaitForSample(Clock::time_point Start) { m_WaitForSample += Clock::now() - Start; }
    void WaitForWriter(Clock::time_point Start) { m_WaitForWriter += Clock::now() - Start; }

    // The figures of a run on Adapter, the writer's asked of SinkWriter.
    Figures Collect(const wchar_t* Adapter, IMFSinkWriter* SinkWriter, DWORD StreamIndex, UINT32 Frames,
                    double ElapsedSeconds) const;
    // The summary on standard error when it is a console; for a completed
    // run, the JSON file where OSTREL_STATISTICS names one (a failure to
    // write it is said on standard error and changes nothing else). Adds
    // the frame rate and, for a completed run, the size of the video.
    static void Report(Figures Figures, const Configuration& Configuration, const std::wstring& OutputPath);

    // Whether OSTREL_QUALITY=1 asks the encoder to measure its error against
    // the rendered frames (PSNR and SSIM). It costs libx264 about 3% more
    // work, so a run measures it only when asked.
    static bool MeasuresQuality();

    // The nearest-rank percentiles of Values (any order); zeros for none.
    static Percentiles PercentilesOf(std::vector<double> Values);
    // The summary in lines of at most Width characters where the words
    // allow (an adapter's name longer than that keeps a line of its own):
    //   300 frames in 1.47 s: 204.1 fps, 4.90 ms a frame, speed 3.40x
    //   bit rate 9.87 Mbit/s, file 1,851,236 bytes
    //   llvmpipe (LLVM 15.0.6, 256 bits), libx264 superfast, in-place,
    //     0 bytes copied a frame
    //   a frame: render 13.1 ms, readback 1.1 ms, ...; waited 0.4 s
    //   latency p50 32.1 ms, p90 ..., max ...; CPU 9.8 ms a frame
    //   PSNR Y 41.65 dB, average 43.10 dB, SSIM 0.9876
    static std::vector<std::string> SummaryLines(const Figures& Figures, size_t Width = 80);
    static std::string Json(const Figures& Figures, const Configuration& Configuration, const std::wstring& OutputPath);

private:
    Clock::duration m_Submit{}, m_WaitForSample{}, m_WaitForWriter{};
    // The process's processor time when the run began, where known.
    bool m_CpuKnown = false;
    UINT64 m_CpuAtStart = 0; // 100-ns units
};

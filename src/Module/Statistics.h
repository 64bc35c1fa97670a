// Where the encoding run's time went.
#pragma once

#include <chrono>
#include <string>

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

        // Seconds a frame of rendering and copying: on the device where
        // its time is known, else on the rendering thread.
        double Render() const { return m_DeviceKnown ? m_Device : m_Submit; }
    };

    // Adds the time since Start to a total.
    void Submit(Clock::time_point Start) { m_Submit += Clock::now() - Start; }
    void WaitForSample(Clock::time_point Start) { m_WaitForSample += Clock::now() - Start; }
    void WaitForWriter(Clock::time_point Start) { m_WaitForWriter += Clock::now() - Start; }

    // The figures of a finished run on Adapter, the writer's asked of
    // SinkWriter.
    Figures Collect(const wchar_t* Adapter, IMFSinkWriter* SinkWriter, DWORD StreamIndex, UINT32 Frames,
                    double ElapsedSeconds) const;
    // The summary on standard error when it is a console; the JSON file
    // where OSTREL_STATISTICS names one (a failure to write it is said on
    // standard error and changes nothing else).
    static void Report(const Figures& Figures, const Configuration& Configuration, const std::wstring& OutputPath);

    // "llvmpipe, libx264 superfast, in-place, 0 bytes copied a frame: render
    // 13.1 ms, readback 1.1 ms, ... a frame; waited 0.4 s".
    static std::string SummaryLine(const Figures& Figures);
    static std::string Json(const Figures& Figures, const Configuration& Configuration, const std::wstring& OutputPath);

private:
    Clock::duration m_Submit{}, m_WaitForSample{}, m_WaitForWriter{};
};

// The status line of the encoding run.
#pragma once

#include <string>

#include <windows.h>

#include <mfidl.h>
#include <mfreadwrite.h>

#include "Application.h"

// A status line on standard error while the run goes, when standard
// error is a console: frames written of the total, the rate so far, the
// time taken, the time left, the speed against real time and the bit rate
// so far. Cut to the console's width as it is at each redraw, so that it
// stays one line; redrawn at most four times a second and erased before the
// run's last lines; nothing at all without a console.
class Application::Progress
{
public:
    // FrameRate (frames a second of the video) gives the speed, SinkWriter
    // (where given) the bytes muxed so far.
    Progress(UINT32 FrameCount, ULONGLONG StartTick, double FrameRate = 0, IMFSinkWriter* SinkWriter = nullptr,
             DWORD StreamIndex = 0);
    ~Progress() { Erase(); }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // After each frame written, with the tick count of the moment.
    void Update(UINT32 FramesWritten, ULONGLONG Tick)
    {
        if (m_Console && Tick >= m_NextDraw)
            Draw(FramesWritten, Tick);
    }
    // Erases the status line; with Always, the line the cursor is on even
    // where no status was drawn (what the terminal echoed of a Ctrl-C).
    void Erase(bool Always = false);

    // The status text for a moment of the run, e.g.
    // "frame 1200/3600  35.2 fps  34 s  ETA 68 s  speed 0.59x  9.87 Mbit/s";
    // no speed without a frame rate, no bit rate while none is known.
    static std::string Text(UINT32 FramesWritten, UINT32 FrameCount, ULONGLONG Elapsed, double FrameRate = 0,
                            double Bitrate = 0);
    // Text cut to Columns - 1 characters: the last column stays free, so
    // that the cursor never wraps to a new line.
    static std::string Clip(const std::string& Text, size_t Columns);

private:
    void Draw(UINT32 FramesWritten, ULONGLONG Tick);

    const bool m_Console;
    bool m_VirtualTerminal = false; // the console takes escape sequences
    const UINT32 m_FrameCount;
    const ULONGLONG m_StartTick;
    const double m_FrameRate;
    IMFSinkWriter* const m_SinkWriter;
    const DWORD m_StreamIndex;
    ULONGLONG m_NextDraw = 0;
    size_t m_Drawn = 0; // characters on the line now
};

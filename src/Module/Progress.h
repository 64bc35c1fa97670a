// The status line of the encoding run.
#pragma once

#include <string>

#include <windows.h>

#include "Application.h"

// A status line on standard error while the run goes, when standard
// error is a console: frames written of the total, the rate so far, the
// time taken and the time left. Redrawn at most four times a second and
// erased before the run's last line; nothing at all without a console.
class Application::Progress
{
public:
    Progress(UINT32 FrameCount, ULONGLONG StartTick);
    ~Progress() { Erase(); }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // After each frame written, with the tick count of the moment.
    void Update(UINT32 FramesWritten, ULONGLONG Tick)
    {
        if (m_Console && Tick >= m_NextDraw)
            Draw(FramesWritten, Tick);
    }
    void Erase();

    // The status text for a moment of the run, e.g.
    // "frame 1200/3600  35.2 fps  34 s  ETA 68 s".
    static std::string Text(UINT32 FramesWritten, UINT32 FrameCount, ULONGLONG Elapsed);

private:
    void Draw(UINT32 FramesWritten, ULONGLONG Tick);

    const bool m_Console;
    const UINT32 m_FrameCount;
    const ULONGLONG m_StartTick;
    ULONGLONG m_NextDraw = 0;
    size_t m_Drawn = 0; // characters on the line now
};

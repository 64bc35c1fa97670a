// The status line of the encoding run.

#include <cstdio>

#include "Format.h"
#include "Progress.h"

namespace {

// Redraws at most four times a second.
constexpr ULONGLONG DrawInterval = 250;

bool StandardErrorIsConsole()
{
    DWORD Mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &Mode) != FALSE;
}

} // namespace

Application::Progress::Progress(UINT32 FrameCount, ULONGLONG StartTick)
    : m_Console(StandardErrorIsConsole()),
      m_FrameCount(FrameCount),
      m_StartTick(StartTick),
      m_NextDraw(StartTick + DrawInterval)
{}

std::string Application::Progress::Text(UINT32 FramesWritten, UINT32 FrameCount, ULONGLONG Elapsed)
{
    const double Seconds = Elapsed / 1000.0;
    const double Rate = Seconds > 0 ? FramesWritten / Seconds : 0.0;
    std::string Line = Format("frame %u/%u  %.1f fps  %.0f s", FramesWritten, FrameCount, Rate, Seconds);
    if (Rate > 0 && FramesWritten <= FrameCount)
        Line += Format("  ETA %.0f s", (FrameCount - FramesWritten) / Rate);
    return Line;
}

void Application::Progress::Draw(UINT32 FramesWritten, ULONGLONG Tick)
{
    m_NextDraw = Tick + DrawInterval;
    const std::string Line = Text(FramesWritten, m_FrameCount, Tick - m_StartTick);
    // Blanks over what a longer line before left behind.
    const int Blanks = m_Drawn > Line.size() ? static_cast<int>(m_Drawn - Line.size()) : 0;
    std::fprintf(stderr, "\r%s%*s", Line.c_str(), Blanks, "");
    std::fflush(stderr);
    m_Drawn = Line.size();
}

void Application::Progress::Erase()
{
    if (m_Drawn == 0)
        return;
    std::fprintf(stderr, "\r%*s\r", static_cast<int>(m_Drawn), "");
    std::fflush(stderr);
    m_Drawn = 0;
}

// The status line of the encoding run.

#include <algorithm>
#include <cstdio>

#include "Format.h"
#include "Progress.h"

namespace {

// Redraws at most four times a second.
constexpr ULONGLONG DrawInterval = 250;

// Erases from the cursor to the end of the line.
constexpr const char* EraseToEnd = "\x1b[K";

} // namespace

Application::Progress::Progress(UINT32 FrameCount, ULONGLONG StartTick, double FrameRate, IMFSinkWriter* SinkWriter,
                                DWORD StreamIndex)
    : m_Console(ConsoleColumns() > 0),
      m_FrameCount(FrameCount),
      m_StartTick(StartTick),
      m_FrameRate(FrameRate),
      m_SinkWriter(SinkWriter),
      m_StreamIndex(StreamIndex),
      m_NextDraw(StartTick + DrawInterval)
{
    DWORD Mode = 0;
    m_VirtualTerminal = m_Console && GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &Mode) &&
                        (Mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

std::string Application::Progress::Text(UINT32 FramesWritten, UINT32 FrameCount, ULONGLONG Elapsed, double FrameRate,
                                        double Bitrate)
{
    const double Seconds = Elapsed / 1000.0;
    const double Rate = Seconds > 0 ? FramesWritten / Seconds : 0.0;
    std::string Line = Format("frame %u/%u  %.1f fps  %.0f s", FramesWritten, FrameCount, Rate, Seconds);
    if (Rate > 0 && FramesWritten <= FrameCount)
        Line += Format("  ETA %.0f s", (FrameCount - FramesWritten) / Rate);
    if (Rate > 0 && FrameRate > 0)
        Line += Format("  speed %.2fx", Rate / FrameRate);
    if (Bitrate > 0)
        Line += Format("  %.2f Mbit/s", Bitrate / 1e6);
    return Line;
}

std::string Application::Progress::Clip(const std::string& Text, size_t Columns)
{
    if (Columns <= 1)
        return {};
    return Text.size() < Columns ? Text : Text.substr(0, Columns - 1);
}

void Application::Progress::Draw(UINT32 FramesWritten, ULONGLONG Tick)
{
    m_NextDraw = Tick + DrawInterval;
    // The bit rate of the frames muxed so far.
    double Bitrate = 0;
    MF_SINK_WRITER_STATISTICS Counts = {};
    Counts.cb = sizeof Counts;
    if (m_SinkWriter && m_FrameRate > 0 && SUCCEEDED(m_SinkWriter->GetStatistics(m_StreamIndex, &Counts)) &&
        Counts.qwNumSamplesProcessed > 0)
        Bitrate = Counts.qwByteCountProcessed * 8.0 * m_FrameRate / Counts.qwNumSamplesProcessed;
    const size_t Columns = ConsoleColumns();
    const std::string Line =
        Clip(Text(FramesWritten, m_FrameCount, Tick - m_StartTick, m_FrameRate, Bitrate), Columns ? Columns : 80);
    if (m_VirtualTerminal)
        std::fprintf(stderr, "\r%s%s", Line.c_str(), EraseToEnd);
    else
    {
        // Blanks over what a longer line before left behind, within the width.
        const size_t Reach = Columns > 1 ? std::min(m_Drawn, Columns - 1) : m_Drawn;
        const int Blanks = Reach > Line.size() ? static_cast<int>(Reach - Line.size()) : 0;
        std::fprintf(stderr, "\r%s%*s", Line.c_str(), Blanks, "");
    }
    std::fflush(stderr);
    m_Drawn = Line.size();
}

void Application::Progress::Erase(bool Always)
{
    if (!m_Console || (m_Drawn == 0 && !Always))
        return;
    if (m_VirtualTerminal)
        std::fprintf(stderr, "\r%s", EraseToEnd);
    else
        std::fprintf(stderr, "\r%*s\r", static_cast<int>(m_Drawn), "");
    std::fflush(stderr);
    m_Drawn = 0;
}

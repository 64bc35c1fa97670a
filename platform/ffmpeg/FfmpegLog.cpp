#include "FfmpegLog.h"

#include <atomic>
#include <cstdarg>
#include <mutex>

extern "C" {
#include <libavutil/log.h>
}

#include "Ffmpeg/FfmpegLog.h"

namespace Platform {

namespace {

std::atomic<FfmpegLogSink> Sink{nullptr};

void LogToSink(void* Object, int Level, const char* Format, va_list Arguments)
{
    const FfmpegLogSink Current = Sink.load();
    if (Level > AV_LOG_WARNING || !Current)
        return;
    char Line[1024];
    int Prefix = 1;
    av_log_format_line2(Object, Level, Format, Arguments, Line, sizeof Line, &Prefix);
    Current(Line);
}

} // namespace

FfmpegLogSink SetFfmpegLogSink(FfmpegLogSink NewSink) { return Sink.exchange(NewSink); }

void InstallFfmpegLog()
{
    static std::once_flag Once;
    std::call_once(Once, [] { av_log_set_callback(LogToSink); });
}

} // namespace Platform

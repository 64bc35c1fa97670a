#include "FfmpegLog.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

extern "C" {
#include <libavutil/log.h>
}

#include "Win32/Utf8.h"
#include <debugapi.h>

namespace Platform {

namespace {

void LogToDebugger(void* Object, int Level, const char* Format, va_list Arguments)
{
    if (Level > AV_LOG_WARNING)
        return;
    char Line[1024];
    int Prefix = 1;
    av_log_format_line2(Object, Level, Format, Arguments, Line, sizeof Line, &Prefix);
    OutputDebugStringW(WideFromUtf8(std::string("FFmpeg: ") + Line).c_str());
}

} // namespace

void InstallFfmpegLog()
{
    static std::once_flag Once;
    std::call_once(Once, [] { av_log_set_callback(LogToDebugger); });
}

} // namespace Platform

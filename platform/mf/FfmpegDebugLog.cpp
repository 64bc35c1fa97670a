#include "FfmpegDebugLog.h"

#include <mutex>
#include <string>

#include "Ffmpeg/FfmpegLog.h"
#include "Win32/Utf8.h"
#include <debugapi.h>

namespace Platform {

void SendFfmpegLogToDebugger()
{
    static std::once_flag Once;
    std::call_once(Once, [] {
        SetFfmpegLogSink(
            [](const char* Line) { OutputDebugStringW(WideFromUtf8(std::string("FFmpeg: ") + Line).c_str()); });
    });
}

} // namespace Platform

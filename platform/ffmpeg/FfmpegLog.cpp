#include "FfmpegLog.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <utility>

extern "C" {
#include <libavutil/log.h>
}

#include "Ffmpeg/FfmpegLog.h"

namespace Platform {

namespace {

std::atomic<FfmpegLogSink> Sink{nullptr};

struct Listeners
{
    std::mutex Lock;
    std::map<const void*, std::function<void(const char*)>> ByObject;
    std::atomic<size_t> Count{0};
};

Listeners& TheListeners()
{
    // Never destroyed: FFmpeg may log while the process exits.
    static Listeners* Instance = new Listeners;
    return *Instance;
}

void TellListener(void* Object, const char* Format, va_list Arguments)
{
    Listeners& All = TheListeners();
    if (!Object || All.Count.load(std::memory_order_relaxed) == 0)
        return;
    std::lock_guard Guard(All.Lock);
    const auto Found = All.ByObject.find(Object);
    if (Found == All.ByObject.end())
        return;
    char Line[1024];
    std::vsnprintf(Line, sizeof Line, Format, Arguments);
    Found->second(Line);
}

void LogToSink(void* Object, int Level, const char* Format, va_list Arguments)
{
    va_list Copy;
    va_copy(Copy, Arguments);
    TellListener(Object, Format, Copy);
    va_end(Copy);
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

void ListenToFfmpegLog(const void* Object, std::function<void(const char* Line)> Listener)
{
    Listeners& All = TheListeners();
    std::lock_guard Guard(All.Lock);
    All.ByObject[Object] = std::move(Listener);
    All.Count = All.ByObject.size();
}

void StopListeningToFfmpegLog(const void* Object)
{
    Listeners& All = TheListeners();
    std::lock_guard Guard(All.Lock);
    All.ByObject.erase(Object);
    All.Count = All.ByObject.size();
}

void InstallFfmpegLog()
{
    static std::once_flag Once;
    std::call_once(Once, [] { av_log_set_callback(LogToSink); });
}

} // namespace Platform

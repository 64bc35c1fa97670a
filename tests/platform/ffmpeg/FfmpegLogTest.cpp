// FFmpeg's log reaches the sink that the back end was given, and nothing else.

#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/log.h>
}

#include "Ffmpeg/FfmpegLog.h"
#include "ffmpeg/FfmpegLog.h"

namespace {

std::mutex Lock;
std::vector<std::string> Lines;

void Capture(const char* Line)
{
    std::lock_guard Guard(Lock);
    Lines.emplace_back(Line);
}

} // namespace

TEST(FfmpegLog, WarningsAndErrorsReachTheSinkWholeLines)
{
    Platform::InstallFfmpegLog();
    const Platform::FfmpegLogSink Earlier = Platform::SetFfmpegLogSink(Capture);
    Lines.clear();
    av_log(nullptr, AV_LOG_ERROR, "broken %d\n", 7);
    av_log(nullptr, AV_LOG_WARNING, "careful\n");
    av_log(nullptr, AV_LOG_INFO, "chatter\n");
    av_log(nullptr, AV_LOG_DEBUG, "detail\n");
    EXPECT_EQ(Platform::SetFfmpegLogSink(nullptr), Capture);
    av_log(nullptr, AV_LOG_ERROR, "dropped\n");
    Platform::SetFfmpegLogSink(Earlier);
    EXPECT_EQ(Lines, (std::vector<std::string>{"broken 7\n", "careful\n"}));
}

// Where the FFmpeg writer's log goes: FFmpeg's and its encoders' warnings
// and errors, one line at a time.
#pragma once

namespace Platform {

// Line is UTF-8 text, one line with its line end; the sink may be called on
// any thread, also on several at once.
using FfmpegLogSink = void (*)(const char* Line);

// The sink for all lines from now on; nullptr drops them. Nothing reaches
// the console in either case. Answers the sink set before.
FfmpegLogSink SetFfmpegLogSink(FfmpegLogSink Sink);

} // namespace Platform

// FFmpeg's log, kept off the console.
#pragma once

namespace Platform {

// Once per process: warnings and errors of FFmpeg and its encoders go to the
// sink set with SetFfmpegLogSink, the rest nowhere.
void InstallFfmpegLog();

} // namespace Platform

// FFmpeg's log, kept off the console.
#pragma once

#include <functional>

namespace Platform {

// Once per process: warnings and errors of FFmpeg and its encoders go to the
// sink set with SetFfmpegLogSink, the rest nowhere.
void InstallFfmpegLog();

// Each line that FFmpeg logs for Object (a codec context), whatever its
// level, also goes to Listener, on the thread that logs it, until
// StopListeningToFfmpegLog. One listener an object.
void ListenToFfmpegLog(const void* Object, std::function<void(const char* Line)> Listener);
void StopListeningToFfmpegLog(const void* Object);

} // namespace Platform

// FFmpeg's log, sent to the debugger output channel instead of the console.
#pragma once

namespace Platform {

// Once per process: warnings and errors of FFmpeg and its encoders go to
// OutputDebugStringW, the rest nowhere.
void InstallFfmpegLog();

} // namespace Platform

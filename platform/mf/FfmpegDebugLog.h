// FFmpeg's log, sent to the debugger output channel instead of the console.
#pragma once

namespace Platform {

// Once per process: FFmpeg's warnings and errors go to OutputDebugStringW,
// each line after "FFmpeg: ".
void SendFfmpegLogToDebugger();

} // namespace Platform

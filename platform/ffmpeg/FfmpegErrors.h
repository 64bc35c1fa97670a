// The one place where FFmpeg's error values (AVERROR) become FfmpegErrors.
#pragma once

#include "Ffmpeg/FfmpegError.h"

namespace Platform {

// Error is an AVERROR value, below 0 (0 and above: no failure). A system
// error (AVERROR(errno)) is told as Context with its errno, where Context is
// System, FileCreation or FileWrite; a lack of memory and an invalid
// argument are told as such whatever the context.
FfmpegError FfmpegErrorFromAverror(int Error, FfmpegError::Kind Context = FfmpegError::Kind::System);

} // namespace Platform

// The FFmpeg back end's errors as its tests write and print them.
#pragma once

#include <ostream>

#include "Ffmpeg/FfmpegError.h"

namespace Platform {

inline void PrintTo(const FfmpegError& Error, std::ostream* Stream)
{
    *Stream << "FfmpegError{kind " << static_cast<int>(Error.What) << ", code " << Error.Code << "}";
}

} // namespace Platform

using Kind = Platform::FfmpegError::Kind;
constexpr Platform::FfmpegError Ok{};

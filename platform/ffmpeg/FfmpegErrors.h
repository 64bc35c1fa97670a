// The one place where FFmpeg's error values (AVERROR) become HRESULTs.
#pragma once

#include <mferror.h>

namespace Platform {

// What the failed call was doing: a missing path component reads as a
// missing folder when a file is being created, and an I/O error as a write
// fault while one is written.
enum class FfmpegOperation
{
    General,
    CreateFile,
    WriteFile,
};

HRESULT HresultFromAverror(int Error, FfmpegOperation Operation = FfmpegOperation::General);

} // namespace Platform

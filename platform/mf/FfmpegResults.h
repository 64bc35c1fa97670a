// The one place where the FFmpeg writer's failures become the HRESULTs that
// the sink writer's callers see, and where a frame source's HRESULT goes
// into the writer.
#pragma once

#include "Ffmpeg/FfmpegError.h"
#include <winerror.h>

namespace Platform {

HRESULT HresultFromFfmpeg(const FfmpegError& Error);

// For a frame source's Lock: no failure, or the failure to pass back as it is.
FfmpegError FfmpegErrorFromHresult(HRESULT Result);

} // namespace Platform

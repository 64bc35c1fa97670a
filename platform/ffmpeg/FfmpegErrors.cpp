#include "FfmpegErrors.h"

#include <cerrno>

extern "C" {
#include <libavutil/error.h>
}

namespace Platform {

FfmpegError FfmpegErrorFromAverror(int Error, FfmpegError::Kind Context)
{
    using Kind = FfmpegError::Kind;
    if (Error >= 0)
        return {};
    switch (Error)
    {
    case AVERROR_MUXER_NOT_FOUND:
    case AVERROR_PROTOCOL_NOT_FOUND: return Kind::UnsupportedContainer;
    case AVERROR_ENCODER_NOT_FOUND: return Kind::EncoderNotFound;
    case AVERROR_INVALIDDATA: return Kind::InvalidData;
    case AVERROR_EOF: return Kind::EndOfStream;
    case AVERROR_BUG:
    case AVERROR_BUG2: return Kind::InternalError;
    case AVERROR_PATCHWELCOME: return Kind::NotImplemented;
    case AVERROR(ENOMEM): return Kind::OutOfMemory;
    case AVERROR(EINVAL): return Kind::InvalidArgument;
    case AVERROR_EXTERNAL: return Kind::EncoderFailed;
    default: break;
    }
    // AVERROR(e) is -e for the system's errno values; FFmpeg's own codes
    // are tags far outside that range.
    const int Errno = -Error;
    if (Errno > 0 && Errno < 4096)
        return {Context, Errno};
    return Kind::Unknown;
}

} // namespace Platform

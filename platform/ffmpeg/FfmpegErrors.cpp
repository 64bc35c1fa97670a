#include "FfmpegErrors.h"

#include <cerrno>

extern "C" {
#include <libavutil/error.h>
}

#include "Win32/Errors.h"

namespace Platform {

HRESULT HresultFromAverror(int Error, FfmpegOperation Operation)
{
    if (Error >= 0)
        return S_OK;
    switch (Error)
    {
    case AVERROR_MUXER_NOT_FOUND:
    case AVERROR_PROTOCOL_NOT_FOUND: return MF_E_UNSUPPORTED_BYTESTREAM_TYPE;
    case AVERROR_ENCODER_NOT_FOUND: return MF_E_TOPO_CODEC_NOT_FOUND;
    case AVERROR_INVALIDDATA: return MF_E_INVALID_STREAM_DATA;
    case AVERROR_EOF: return MF_E_UNEXPECTED;
    case AVERROR_BUG:
    case AVERROR_BUG2: return E_UNEXPECTED;
    case AVERROR_PATCHWELCOME: return E_NOTIMPL;
    case AVERROR(ENOMEM): return E_OUTOFMEMORY;
    case AVERROR(EINVAL): return E_INVALIDARG;
    // An encoder library (x264) reports a failed allocation only as its
    // generic error.
    case AVERROR_EXTERNAL: return MemoryExhausted() ? E_OUTOFMEMORY : E_FAIL;
    default: break;
    }
    // AVERROR(e) is -e for the system's errno values; FFmpeg's own codes
    // are tags far outside that range.
    const int Errno = -Error;
    if (Errno > 0 && Errno < 4096)
    {
        if (Errno == ENOENT && Operation == FfmpegOperation::CreateFile)
            return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
        if (Errno == EIO && Operation == FfmpegOperation::WriteFile)
            return HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
        const DWORD Win32Error = Win32ErrorFromErrno(Errno);
        if (Win32Error != ERROR_INVALID_FUNCTION)
            return HRESULT_FROM_WIN32(Win32Error);
    }
    return E_FAIL;
}

} // namespace Platform

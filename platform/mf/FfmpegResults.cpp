#include "FfmpegResults.h"

#include <cerrno>

#include "Win32/Errors.h"
#include <mferror.h>

namespace Platform {

namespace {

HRESULT FromErrno(int Errno)
{
    const DWORD Win32Error = Win32ErrorFromErrno(Errno);
    return Win32Error != ERROR_INVALID_FUNCTION ? HRESULT_FROM_WIN32(Win32Error) : E_FAIL;
}

} // namespace

HRESULT HresultFromFfmpeg(const FfmpegError& Error)
{
    using Kind = FfmpegError::Kind;
    switch (Error.What)
    {
    case Kind::None: return S_OK;
    case Kind::InvalidRequest: return MF_E_INVALIDREQUEST;
    case Kind::InvalidArgument: return E_INVALIDARG;
    case Kind::NotInitialized: return MF_E_NOT_INITIALIZED;
    case Kind::UnsupportedContainer: return MF_E_UNSUPPORTED_BYTESTREAM_TYPE;
    case Kind::InvalidSettings: return MF_E_INVALIDMEDIATYPE;
    case Kind::StreamsFixed: return MF_E_STREAMSINKS_FIXED;
    case Kind::NoStreams: return MF_E_SINK_NO_STREAMS;
    case Kind::NoFrames: return MF_E_SINK_NO_SAMPLES_PROCESSED;
    case Kind::InvalidTimestamp: return MF_E_INVALID_TIMESTAMP;
    case Kind::EncoderNotFound: return MF_E_TOPO_CODEC_NOT_FOUND;
    // An encoder library (x264) reports a failed allocation only as its
    // generic error: out of memory where the process has none left.
    case Kind::EncoderRefused: return MemoryExhausted() ? E_OUTOFMEMORY : MF_E_INVALIDMEDIATYPE;
    case Kind::EncoderFailed: return MemoryExhausted() ? E_OUTOFMEMORY : E_FAIL;
    case Kind::InvalidData: return MF_E_INVALID_STREAM_DATA;
    case Kind::OutOfMemory: return E_OUTOFMEMORY;
    case Kind::EndOfStream: return MF_E_UNEXPECTED;
    case Kind::InternalError: return E_UNEXPECTED;
    case Kind::NotImplemented: return E_NOTIMPL;
    case Kind::Unknown: return E_FAIL;
    case Kind::TargetIsFolder: return HRESULT_FROM_WIN32(ERROR_DIRECTORY);
    case Kind::TargetNotFile: return HRESULT_FROM_WIN32(ERROR_OPEN_FAILED);
    case Kind::System: return FromErrno(Error.Code);
    // A missing path component reads as a missing folder when a file is
    // being created, and an I/O error as a write fault while one is written.
    case Kind::FileCreation:
        return Error.Code == ENOENT ? HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND) : FromErrno(Error.Code);
    case Kind::FileWrite: return Error.Code == EIO ? HRESULT_FROM_WIN32(ERROR_WRITE_FAULT) : FromErrno(Error.Code);
    case Kind::FrameSource: return FAILED(Error.Code) ? static_cast<HRESULT>(Error.Code) : E_FAIL;
    }
    return E_FAIL;
}

FfmpegError FfmpegErrorFromHresult(HRESULT Result)
{
    if (SUCCEEDED(Result))
        return {};
    return {FfmpegError::Kind::FrameSource, static_cast<int>(Result)};
}

} // namespace Platform

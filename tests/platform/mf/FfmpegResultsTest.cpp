// The FFmpeg writer's failures as the sink writer's callers see them.

#include <cerrno>
#include <cstdlib>

#include <gtest/gtest.h>

#include <mferror.h>
#include <windows.h>

#include "Ffmpeg/FfmpegError.h"
#include "mf/FfmpegResults.h"
#include "support/AddressSpaceLimit.h"

using namespace Platform;
using Kind = FfmpegError::Kind;

TEST(FfmpegResults, EachFailureHasTheResultCallersKnow)
{
    const struct
    {
        FfmpegError Error;
        HRESULT Expected;
    } Cases[] = {
        {{}, S_OK},
        {Kind::InvalidRequest, MF_E_INVALIDREQUEST},
        {Kind::InvalidArgument, E_INVALIDARG},
        {Kind::NotInitialized, MF_E_NOT_INITIALIZED},
        {Kind::UnsupportedContainer, MF_E_UNSUPPORTED_BYTESTREAM_TYPE},
        {Kind::InvalidSettings, MF_E_INVALIDMEDIATYPE},
        {Kind::StreamsFixed, MF_E_STREAMSINKS_FIXED},
        {Kind::NoStreams, MF_E_SINK_NO_STREAMS},
        {Kind::NoFrames, MF_E_SINK_NO_SAMPLES_PROCESSED},
        {Kind::InvalidTimestamp, MF_E_INVALID_TIMESTAMP},
        {Kind::EncoderNotFound, MF_E_TOPO_CODEC_NOT_FOUND},
        {Kind::EncoderRefused, MF_E_INVALIDMEDIATYPE},
        {Kind::InvalidData, MF_E_INVALID_STREAM_DATA},
        {Kind::OutOfMemory, E_OUTOFMEMORY},
        {Kind::EncoderFailed, E_FAIL},
        {Kind::EndOfStream, MF_E_UNEXPECTED},
        {Kind::InternalError, E_UNEXPECTED},
        {Kind::NotImplemented, E_NOTIMPL},
        {Kind::Unknown, E_FAIL},
        {Kind::TargetIsFolder, HRESULT_FROM_WIN32(ERROR_DIRECTORY)},
        {Kind::TargetNotFile, HRESULT_FROM_WIN32(ERROR_OPEN_FAILED)},
        // The file system's refusals: a missing component is a missing folder
        // while the file is made, and an I/O error a write fault while it is
        // written; the rest as the system says them.
        {{Kind::FileCreation, ENOENT}, HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)},
        {{Kind::FileCreation, ENOTDIR}, HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)},
        {{Kind::FileCreation, EACCES}, E_ACCESSDENIED},
        {{Kind::FileCreation, EROFS}, HRESULT_FROM_WIN32(ERROR_WRITE_PROTECT)},
        {{Kind::FileCreation, ELOOP}, HRESULT_FROM_WIN32(ERROR_CANT_RESOLVE_FILENAME)},
        {{Kind::FileCreation, EIO}, HRESULT_FROM_WIN32(ERROR_PARTIAL_COPY)},
        {{Kind::FileWrite, EIO}, HRESULT_FROM_WIN32(ERROR_WRITE_FAULT)},
        {{Kind::FileWrite, ENOSPC}, static_cast<HRESULT>(0x80070070)},
        {{Kind::FileWrite, ENOENT}, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
        {{Kind::System, ENOENT}, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
        {{Kind::System, ENOSPC}, HRESULT_FROM_WIN32(ERROR_DISK_FULL)},
        {{Kind::System, 4000}, E_FAIL}, // no errno the system knows
        // A frame source's failure comes back as it went in.
        {{Kind::FrameSource, HRESULT_FROM_WIN32(ERROR_TIMEOUT)}, HRESULT_FROM_WIN32(ERROR_TIMEOUT)},
        {{Kind::FrameSource, 0}, E_FAIL},
    };
    for (const auto& Case : Cases)
        EXPECT_EQ(HresultFromFfmpeg(Case.Error), Case.Expected)
            << "kind " << static_cast<int>(Case.Error.What) << ", code " << Case.Error.Code;
}

TEST(FfmpegResults, FrameSourcesFailOnlyWithAFailure)
{
    EXPECT_FALSE(FfmpegErrorFromHresult(S_OK).Failed());
    EXPECT_FALSE(FfmpegErrorFromHresult(S_FALSE).Failed());
    EXPECT_EQ(HresultFromFfmpeg(FfmpegErrorFromHresult(DXGI_ERROR_DEVICE_REMOVED)), DXGI_ERROR_DEVICE_REMOVED);
}

// An encoder library's generic error is out of memory only where the process
// has none left.
TEST(FfmpegResults, EncoderErrorsAreOutOfMemoryOnlyWhenMemoryIsExhausted)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's shadow memory leaves no address-space limit to test against";
#endif
    EXPECT_EXIT(
        {
            if (!Testing::LimitAddressSpace(size_t(16) << 20))
                std::_Exit(2);
            const bool OutOfMemory = HresultFromFfmpeg(Kind::EncoderFailed) == E_OUTOFMEMORY &&
                                     HresultFromFfmpeg(Kind::EncoderRefused) == E_OUTOFMEMORY;
            // Other failures keep their meaning.
            const bool Invalid = HresultFromFfmpeg(Kind::InvalidArgument) == E_INVALIDARG;
            std::_Exit(OutOfMemory && Invalid ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

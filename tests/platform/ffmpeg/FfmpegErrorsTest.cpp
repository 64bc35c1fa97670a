// FFmpeg's error values in the back end's own terms.

#include <cerrno>

#include <gtest/gtest.h>

#include "FfmpegErrorPrinting.h"
#include "ffmpeg/FfmpegErrors.h"

extern "C" {
#include <libavutil/error.h>
}

using namespace Platform;

TEST(FfmpegErrors, FfmpegsOwnCodesBecomeKinds)
{
    const struct
    {
        int Averror;
        FfmpegError Expected;
    } Cases[] = {
        {0, Ok},
        {1, Ok}, // a count, as some calls answer
        {AVERROR_MUXER_NOT_FOUND, Kind::UnsupportedContainer},
        {AVERROR_PROTOCOL_NOT_FOUND, Kind::UnsupportedContainer},
        {AVERROR_ENCODER_NOT_FOUND, Kind::EncoderNotFound},
        {AVERROR_INVALIDDATA, Kind::InvalidData},
        {AVERROR_EOF, Kind::EndOfStream},
        {AVERROR_BUG, Kind::InternalError},
        {AVERROR_BUG2, Kind::InternalError},
        {AVERROR_PATCHWELCOME, Kind::NotImplemented},
        {AVERROR_EXTERNAL, Kind::EncoderFailed},
        {AVERROR_UNKNOWN, Kind::Unknown},
        {-0x12345678, Kind::Unknown},
    };
    for (const auto& Case : Cases)
        EXPECT_EQ(FfmpegErrorFromAverror(Case.Averror), Case.Expected) << Case.Averror;
}

// A system error keeps its errno and says what was being done; a lack of
// memory and an invalid argument are that, whatever was being done.
TEST(FfmpegErrors, SystemErrorsKeepTheirErrnoAndContext)
{
    EXPECT_EQ(FfmpegErrorFromAverror(AVERROR(ENOSPC)), FfmpegError(Kind::System, ENOSPC));
    EXPECT_EQ(FfmpegErrorFromAverror(AVERROR(ENOENT), Kind::FileCreation), FfmpegError(Kind::FileCreation, ENOENT));
    EXPECT_EQ(FfmpegErrorFromAverror(AVERROR(EIO), Kind::FileWrite), FfmpegError(Kind::FileWrite, EIO));
    for (const Kind Context : {Kind::System, Kind::FileCreation, Kind::FileWrite})
    {
        EXPECT_EQ(FfmpegErrorFromAverror(AVERROR(ENOMEM), Context), Kind::OutOfMemory);
        EXPECT_EQ(FfmpegErrorFromAverror(AVERROR(EINVAL), Context), Kind::InvalidArgument);
    }
    // Where errno values end and FFmpeg's tags begin.
    EXPECT_EQ(FfmpegErrorFromAverror(-4095), FfmpegError(Kind::System, 4095));
    EXPECT_EQ(FfmpegErrorFromAverror(-4096), Kind::Unknown);
}

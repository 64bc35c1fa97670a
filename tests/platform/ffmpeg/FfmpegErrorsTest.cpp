// FFmpeg's errors as HRESULTs.

#include <cerrno>

#include <gtest/gtest.h>

#include <windows.h>

#include "ffmpeg/FfmpegErrors.h"

extern "C" {
#include <libavutil/error.h>
}

using namespace Platform;

TEST(FfmpegErrors, ErrnoValuesBecomeWin32Results)
{
    EXPECT_EQ(HresultFromAverror(0), S_OK);
    EXPECT_EQ(HresultFromAverror(-ENOENT), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(HresultFromAverror(-ENOENT, FfmpegOperation::CreateFile), HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(HresultFromAverror(-ENOTDIR, FfmpegOperation::CreateFile), HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(HresultFromAverror(-EACCES, FfmpegOperation::CreateFile), E_ACCESSDENIED);
    EXPECT_EQ(HresultFromAverror(-ENOSPC), HRESULT_FROM_WIN32(ERROR_DISK_FULL));
    EXPECT_EQ(HresultFromAverror(-ENOMEM), E_OUTOFMEMORY);
    EXPECT_EQ(HresultFromAverror(-0x12345678), E_FAIL);
}

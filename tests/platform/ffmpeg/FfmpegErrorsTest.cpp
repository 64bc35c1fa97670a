// FFmpeg's errors as HRESULTs.

#include <cerrno>
#include <cstdlib>

#include <gtest/gtest.h>

#include <windows.h>

#include "ffmpeg/FfmpegErrors.h"
#include "support/AddressSpaceLimit.h"

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

// An encoder library's generic error is out of memory only where the process
// has none left.
TEST(FfmpegErrors, ExternalErrorIsOutOfMemoryOnlyWhenMemoryIsExhausted)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's shadow memory leaves no address-space limit to test against";
#endif
    EXPECT_EQ(HresultFromAverror(AVERROR_EXTERNAL), E_FAIL);
    EXPECT_EXIT(
        {
            if (!Testing::LimitAddressSpace(size_t(16) << 20))
                std::_Exit(2);
            const bool OutOfMemory = HresultFromAverror(AVERROR_EXTERNAL) == E_OUTOFMEMORY;
            // Other errors keep their meaning.
            const bool Invalid = HresultFromAverror(AVERROR(EINVAL)) == E_INVALIDARG;
            std::_Exit(OutOfMemory && Invalid ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

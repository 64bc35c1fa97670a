// Host frames into the encoder's 4:2:0 format (YUV420P or NV12): B8G8R8A8
// through libswscale (BT.709, limited range, rows split across threads), NV12
// copied as it is or its chroma split into two planes.
#pragma once

#include <cstdint>

extern "C" {
#include <libavutil/pixfmt.h>
}

#include "Ffmpeg/FfmpegFrames.h"

struct AVFrame;
struct SwsContext;

namespace Platform {

class FfmpegFrameConverter
{
public:
    FfmpegFrameConverter() = default;
    FfmpegFrameConverter(const FfmpegFrameConverter&) = delete;
    FfmpegFrameConverter& operator=(const FfmpegFrameConverter&) = delete;
    ~FfmpegFrameConverter();

    // Both calls answer 0 or an AVERROR value: AVERROR(EINVAL) for a call
    // that cannot be, AVERROR(ENOMEM), or libswscale's own.
    //
    // Input is what frames come in as, unless a frame says otherwise; Output
    // is AV_PIX_FMT_YUV420P or AV_PIX_FMT_NV12. Threads 0 takes one per core.
    int Initialize(FfmpegInputFormat Input, uint32_t Width, uint32_t Height, AVPixelFormat Output,
                   unsigned Threads = 0);
    // Converts the whole picture; Output must be writable, of the output
    // format and size.
    int Convert(const FfmpegFrameView& View, AVFrame* Output);
    // The bytes that the last Convert copied as they were (NV12 input), as
    // opposed to converting them.
    uint64_t BytesCopied() const { return m_BytesCopied; }

private:
    int CreateScaler();
    int Scale(const FfmpegFrameView& View, AVFrame* Output);
    int CopyNv12(const FfmpegFrameView& View, AVFrame* Output);

    SwsContext* m_Context = nullptr; // B8G8R8A8 input, made for the first such frame
    // Points at the caller's planes, with a buffer reference that frees
    // nothing, so that libswscale's threaded path can reference it.
    AVFrame* m_Source = nullptr;
    FfmpegInputFormat m_Input = FfmpegInputFormat::B8G8R8A8;
    AVPixelFormat m_Output = AV_PIX_FMT_NONE;
    unsigned m_Threads = 1;
    int m_Width = 0;
    int m_Height = 0;
    uint64_t m_BytesCopied = 0;
};

} // namespace Platform

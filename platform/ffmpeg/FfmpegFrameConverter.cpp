#include "FfmpegFrameConverter.h"

#include <algorithm>
#include <cerrno>
#include <thread>

extern "C" {
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace Platform {

namespace {
void KeepBuffer(void*, uint8_t*) {}
} // namespace

FfmpegFrameConverter::~FfmpegFrameConverter()
{
    av_frame_free(&m_Source);
    sws_freeContext(m_Context);
}

int FfmpegFrameConverter::Initialize(FfmpegInputFormat Input, uint32_t Width, uint32_t Height, AVPixelFormat Output,
                                     unsigned Threads)
{
    if (m_Width != 0 || (Output != AV_PIX_FMT_YUV420P && Output != AV_PIX_FMT_NV12))
        return AVERROR(EINVAL);
    m_Input = Input;
    m_Output = Output;
    m_Threads = Threads ? Threads : std::max(1u, std::thread::hardware_concurrency());
    m_Width = static_cast<int>(Width);
    m_Height = static_cast<int>(Height);
    // NV12 needs nothing made in advance; B8G8R8A8 its scaler.
    return Input == FfmpegInputFormat::B8G8R8A8 ? CreateScaler() : 0;
}

int FfmpegFrameConverter::CreateScaler()
{
    m_Context = sws_alloc_context();
    if (!m_Context)
        return AVERROR(ENOMEM);
    av_opt_set_int(m_Context, "srcw", m_Width, 0);
    av_opt_set_int(m_Context, "srch", m_Height, 0);
    av_opt_set_int(m_Context, "src_format", AV_PIX_FMT_BGRA, 0);
    av_opt_set_int(m_Context, "dstw", m_Width, 0);
    av_opt_set_int(m_Context, "dsth", m_Height, 0);
    av_opt_set_int(m_Context, "dst_format", m_Output, 0);
    av_opt_set_int(m_Context, "sws_flags", SWS_BILINEAR, 0);
    av_opt_set_int(m_Context, "threads", m_Threads, 0);
    int Result = sws_init_context(m_Context, nullptr, nullptr);
    if (Result < 0)
        return Result;
    // Full-range RGB in, limited-range BT.709 out.
    const int* Bt709 = sws_getCoefficients(SWS_CS_ITU709);
    if (sws_setColorspaceDetails(m_Context, Bt709, 1, Bt709, 0, 0, 1 << 16, 1 << 16) < 0)
        return AVERROR_UNKNOWN;

    // libswscale's threaded path references its frames; the caller's planes
    // get a reference that frees nothing.
    m_Source = av_frame_alloc();
    if (!m_Source)
        return AVERROR(ENOMEM);
    static uint8_t Mark;
    m_Source->buf[0] = av_buffer_create(&Mark, 1, KeepBuffer, nullptr, AV_BUFFER_FLAG_READONLY);
    if (!m_Source->buf[0])
        return AVERROR(ENOMEM);
    m_Source->format = AV_PIX_FMT_BGRA;
    m_Source->width = m_Width;
    m_Source->height = m_Height;
    return 0;
}

int FfmpegFrameConverter::Convert(const FfmpegFrameView& View, AVFrame* Output)
{
    m_BytesCopied = 0;
    if (m_Width == 0)
        return AVERROR(EINVAL);
    const bool Nv12 = View.Format.value_or(m_Input) == FfmpegInputFormat::Nv12;
    const int PlaneCount = Nv12 ? 2 : 1;
    const int RowBytes = Nv12 ? m_Width : m_Width * 4;
    for (int Plane = 0; Plane < PlaneCount; ++Plane)
        if (!View.Planes[Plane] || View.Pitches[Plane] < RowBytes)
            return AVERROR(EINVAL);
    return Nv12 ? CopyNv12(View, Output) : Scale(View, Output);
}

int FfmpegFrameConverter::Scale(const FfmpegFrameView& View, AVFrame* Output)
{
    if (!m_Context)
    {
        const int Created = CreateScaler();
        if (Created < 0)
            return Created;
    }
    m_Source->data[0] = const_cast<uint8_t*>(View.Planes[0]);
    m_Source->linesize[0] = View.Pitches[0];
    const int Result = sws_scale_frame(m_Context, Output, m_Source);
    return std::min(Result, 0);
}

int FfmpegFrameConverter::CopyNv12(const FfmpegFrameView& View, AVFrame* Output)
{
    // Luma as it is. (libswscale 6.7 loses the chroma of NV12 input, so the
    // chroma is copied, or split, here.)
    av_image_copy_plane(Output->data[0], Output->linesize[0], View.Planes[0], View.Pitches[0], m_Width, m_Height);
    m_BytesCopied = uint64_t(m_Width) * m_Height;
    if (m_Output == AV_PIX_FMT_NV12)
    {
        av_image_copy_plane(Output->data[1], Output->linesize[1], View.Planes[1], View.Pitches[1], m_Width,
                            m_Height / 2);
        m_BytesCopied += uint64_t(m_Width) * (m_Height / 2);
        return 0;
    }
    for (int Row = 0; Row < m_Height / 2; ++Row)
    {
        const uint8_t* Pairs = View.Planes[1] + static_cast<ptrdiff_t>(Row) * View.Pitches[1];
        uint8_t* U = Output->data[1] + static_cast<ptrdiff_t>(Row) * Output->linesize[1];
        uint8_t* V = Output->data[2] + static_cast<ptrdiff_t>(Row) * Output->linesize[2];
        for (int Column = 0; Column < m_Width / 2; ++Column)
        {
            U[Column] = Pairs[2 * Column];
            V[Column] = Pairs[2 * Column + 1];
        }
    }
    m_BytesCopied += uint64_t(m_Width) * (m_Height / 2);
    return 0;
}

} // namespace Platform

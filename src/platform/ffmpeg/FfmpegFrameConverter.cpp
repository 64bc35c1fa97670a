#include "FfmpegFrameConverter.h"

#include <algorithm>
#include <thread>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include "FfmpegErrors.h"

namespace Platform {

namespace {
void KeepBuffer(void*, uint8_t*) {}
} // namespace

FfmpegFrameConverter::~FfmpegFrameConverter()
{
    av_frame_free(&m_Source);
    sws_freeContext(m_Context);
}

HRESULT FfmpegFrameConverter::Initialize(FfmpegInputFormat Input, uint32_t Width, uint32_t Height,
                                         AVPixelFormat Output, unsigned Threads)
{
    if (m_Width != 0)
        return MF_E_INVALIDREQUEST;
    if (Threads == 0)
        Threads = std::max(1u, std::thread::hardware_concurrency());
    const AVPixelFormat Source = Input == FfmpegInputFormat::Nv12 ? AV_PIX_FMT_NV12 : AV_PIX_FMT_BGRA;
    m_Input = Input;
    m_Width = static_cast<int>(Width);
    m_Height = static_cast<int>(Height);
    if (Input == FfmpegInputFormat::Nv12)
    {
        // NV12 is already what the encoders take: the planes are copied as
        // they are. (libswscale 6.7 loses the chroma of NV12 input.)
        return Output == AV_PIX_FMT_NV12 ? S_OK : MF_E_INVALIDMEDIATYPE;
    }

    m_Context = sws_alloc_context();
    if (!m_Context)
        return E_OUTOFMEMORY;
    av_opt_set_int(m_Context, "srcw", Width, 0);
    av_opt_set_int(m_Context, "srch", Height, 0);
    av_opt_set_int(m_Context, "src_format", Source, 0);
    av_opt_set_int(m_Context, "dstw", Width, 0);
    av_opt_set_int(m_Context, "dsth", Height, 0);
    av_opt_set_int(m_Context, "dst_format", Output, 0);
    av_opt_set_int(m_Context, "sws_flags", SWS_BILINEAR, 0);
    av_opt_set_int(m_Context, "threads", Threads, 0);
    int Result = sws_init_context(m_Context, nullptr, nullptr);
    if (Result < 0)
        return HresultFromAverror(Result);
    // Full-range RGB in, limited-range BT.709 out; YUV input passes as it is.
    if (Input == FfmpegInputFormat::B8G8R8A8)
    {
        const int* Bt709 = sws_getCoefficients(SWS_CS_ITU709);
        if (sws_setColorspaceDetails(m_Context, Bt709, 1, Bt709, 0, 0, 1 << 16, 1 << 16) < 0)
            return E_FAIL;
    }

    // libswscale's threaded path references its frames; the caller's planes
    // get a reference that frees nothing.
    m_Source = av_frame_alloc();
    if (!m_Source)
        return E_OUTOFMEMORY;
    static uint8_t Mark;
    m_Source->buf[0] = av_buffer_create(&Mark, 1, KeepBuffer, nullptr, AV_BUFFER_FLAG_READONLY);
    if (!m_Source->buf[0])
        return E_OUTOFMEMORY;
    m_Source->format = Source;
    m_Source->width = static_cast<int>(Width);
    m_Source->height = static_cast<int>(Height);
    return S_OK;
}

HRESULT FfmpegFrameConverter::Convert(const FfmpegFrameView& View, AVFrame* Output)
{
    if (m_Width == 0)
        return MF_E_NOT_INITIALIZED;
    const int PlaneCount = m_Input == FfmpegInputFormat::Nv12 ? 2 : 1;
    const int RowBytes = m_Input == FfmpegInputFormat::Nv12 ? m_Width : m_Width * 4;
    for (int Plane = 0; Plane < PlaneCount; ++Plane)
        if (!View.Planes[Plane] || View.Pitches[Plane] < RowBytes)
            return E_INVALIDARG;
    if (m_Input == FfmpegInputFormat::Nv12)
    {
        av_image_copy_plane(Output->data[0], Output->linesize[0], View.Planes[0], View.Pitches[0], m_Width, m_Height);
        av_image_copy_plane(Output->data[1], Output->linesize[1], View.Planes[1], View.Pitches[1], m_Width,
                            m_Height / 2);
        return S_OK;
    }
    m_Source->data[0] = const_cast<uint8_t*>(View.Planes[0]);
    m_Source->linesize[0] = View.Pitches[0];
    const int Result = sws_scale_frame(m_Context, Output, m_Source);
    return Result < 0 ? HresultFromAverror(Result) : S_OK;
}

} // namespace Platform

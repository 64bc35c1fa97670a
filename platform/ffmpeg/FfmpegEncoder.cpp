#include "FfmpegEncoder.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

// The CUDA device context holds the driver's context and stream; the
// driver's header is not needed for that, only the two handle types.
#define CUDA_VERSION 11000
using CUcontext = struct CUctx_st*;
using CUstream = struct CUstream_st*;

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/hwcontext.h>
#include <libavutil/hwcontext_cuda.h>
#include <libavutil/opt.h>
}

#include "FfmpegErrors.h"
#include "Ffmpeg/FfmpegHardware.h"
#include "FfmpegLog.h"
#include "Ffmpeg/FfmpegVideoWriter.h"

namespace Platform {

// Chosen by measurement (scripts/bench_encoder.sh, README): at 1920 x 1080
// and 10 Mbit/s on two cores it encodes about 110 frames a second, 1.5 dB
// above ultrafast and within 0.7 dB of veryfast, and leaves a renderer of
// 20 ms a frame running at its own speed; veryfast does not.
const char* const FfmpegDefaultPreset = "superfast";

FfmpegEncoder::~FfmpegEncoder() { Reset(); }

void FfmpegEncoder::Reset()
{
    if (m_Context)
        StopListeningToFfmpegLog(m_Context);
    av_frame_free(&m_Upload);
    av_frame_free(&m_Input);
    avcodec_free_context(&m_Context);
    av_buffer_unref(&m_HardwareFrames);
    av_buffer_unref(&m_HardwareDevice);
    m_FrameFormat = AV_PIX_FMT_NONE;
    m_DeviceFrames = false;
}

namespace {

using Kind = FfmpegError::Kind;

// The hand-over of a device frame: its Done, called when the buffer
// reference that points into it goes.
void DeviceFrameReleased(void* Opaque, uint8_t*)
{
    const std::unique_ptr<FfmpegDeviceFrame> Device(static_cast<FfmpegDeviceFrame*>(Opaque));
    Device->Done(Device->Context);
}

std::string ErrorText(int Error)
{
    char Text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(Error, Text, sizeof Text);
    return Text;
}

// NVENC holds a frame until its packet is out: at most this many frames
// beyond the one being encoded, so that a small ring of device frames
// keeps it fed.
constexpr int64_t NvencDelay = 2;

} // namespace

FfmpegError FfmpegEncoder::OpenOnCudaFrames(const FfmpegVideoSettings& Settings, bool GlobalHeader)
{
    const FfmpegCudaFrames& Cuda = *Settings.CudaFrames;
    // Tests: host addresses behind the device frames, read by libx264.
    if (Cuda.HostAddresses)
        return OpenCodec("libx264", Settings, GlobalHeader, AV_PIX_FMT_NV12);
    m_HardwareDevice = av_hwdevice_ctx_alloc(AV_HWDEVICE_TYPE_CUDA);
    if (!m_HardwareDevice)
        return Kind::OutOfMemory;
    // The context stays the caller's: FFmpeg releases only contexts it made.
    auto* Device =
        static_cast<AVCUDADeviceContext*>(reinterpret_cast<AVHWDeviceContext*>(m_HardwareDevice->data)->hwctx);
    Device->cuda_ctx = static_cast<CUcontext>(Cuda.Context);
    Device->stream = static_cast<CUstream>(Cuda.Stream);
    int Result = av_hwdevice_ctx_init(m_HardwareDevice);
    if (Result < 0)
    {
        m_DeviceRefusal = "the CUDA device context: " + ErrorText(Result);
        return FfmpegErrorFromAverror(Result);
    }
    m_HardwareFrames = av_hwframe_ctx_alloc(m_HardwareDevice);
    if (!m_HardwareFrames)
        return Kind::OutOfMemory;
    // The frames come from the caller's memory: the pool allocates none.
    auto* Frames = reinterpret_cast<AVHWFramesContext*>(m_HardwareFrames->data);
    Frames->format = AV_PIX_FMT_CUDA;
    Frames->sw_format = AV_PIX_FMT_NV12;
    Frames->width = static_cast<int>(Settings.Width);
    Frames->height = static_cast<int>(Settings.Height);
    Frames->initial_pool_size = 0;
    if ((Result = av_hwframe_ctx_init(m_HardwareFrames)) < 0)
    {
        m_DeviceRefusal = "the CUDA frames context: " + ErrorText(Result);
        return FfmpegErrorFromAverror(Result);
    }
    const FfmpegError Opened = OpenCodec("h264_nvenc", Settings, GlobalHeader, AV_PIX_FMT_NV12);
    if (Opened.Failed() && m_DeviceRefusal.empty())
        m_DeviceRefusal = "h264_nvenc does not open on CUDA frames of this device";
    return Opened;
}

FfmpegError FfmpegEncoder::WrapDeviceFrame(const FfmpegDeviceFrame& Device, AVFrame*& Result)
{
    Result = nullptr;
    auto* Handed = new (std::nothrow) FfmpegDeviceFrame(Device);
    AVFrame* Frame = m_DeviceFrames && Handed ? av_frame_alloc() : nullptr;
    const int Height = m_Context ? m_Context->height : 0;
    const size_t Size = size_t(Device.Pitch) * Height * 3 / 2;
    uint8_t* Luma = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(Device.Address));
    if (Frame)
        Frame->buf[0] = av_buffer_create(Luma, Size, DeviceFrameReleased, Handed, 0);
    if (!Frame || !Frame->buf[0])
    {
        av_frame_free(&Frame);
        delete Handed;
        Device.Done(Device.Context);
        return m_DeviceFrames ? Kind::OutOfMemory : Kind::InternalError;
    }
    Frame->width = m_Context->width;
    Frame->height = Height;
    Frame->data[0] = Luma;
    Frame->data[1] = Luma + size_t(Device.Pitch) * Height;
    Frame->linesize[0] = Frame->linesize[1] = Device.Pitch;
    if (m_HardwareFrames)
    {
        Frame->format = AV_PIX_FMT_CUDA;
        Frame->hw_frames_ctx = av_buffer_ref(m_HardwareFrames);
        if (!Frame->hw_frames_ctx)
        {
            av_frame_free(&Frame); // gives the memory back
            return Kind::OutOfMemory;
        }
    }
    else
        Frame->format = AV_PIX_FMT_NV12;
    Result = Frame;
    return {};
}

FfmpegError FfmpegEncoder::Open(const FfmpegVideoSettings& Settings, bool GlobalHeader)
{
    if (m_Context)
        return Kind::InvalidRequest;
    InstallFfmpegLog();
    const AVPixelFormat Planar = Settings.InputFormat == FfmpegInputFormat::Nv12 ? AV_PIX_FMT_NV12 : AV_PIX_FMT_YUV420P;

    // Frames that stay in device memory, where asked for; the encoders below
    // take host frames.
    if (Settings.CudaFrames)
    {
        if (!OpenOnCudaFrames(Settings, GlobalHeader).Failed())
        {
            m_DeviceFrames = true;
            return {};
        }
        if (m_DeviceRefusal.empty())
            m_DeviceRefusal = "the encoder does not open on device frames";
        Reset();
    }

    // A hardware encoder is a bonus, and only one on the device that renders:
    // any failure on its way falls through to the next candidate.
    if (Settings.AllowHardware)
    {
        m_NvencDevice = FfmpegNvencDevice(Settings.Adapter, FfmpegCudaOrdinal);
        if (m_NvencDevice >= 0 && !OpenCodec("h264_nvenc", Settings, GlobalHeader, Planar).Failed())
            return {};
        Reset();
        const std::string Node = FfmpegMatchRenderNode(Settings.Adapter, FfmpegRenderNodes());
        if (!Node.empty() &&
            av_hwdevice_ctx_create(&m_HardwareDevice, AV_HWDEVICE_TYPE_VAAPI, Node.c_str(), nullptr, 0) >= 0 &&
            !CreateVaapiFrames(Settings).Failed() &&
            !OpenCodec("h264_vaapi", Settings, GlobalHeader, AV_PIX_FMT_NV12).Failed())
            return {};
        Reset();
    }
    const FfmpegError Result = OpenCodec("libx264", Settings, GlobalHeader, Planar);
    if (Result.Failed())
        Reset();
    return Result;
}

FfmpegError FfmpegEncoder::CreateVaapiFrames(const FfmpegVideoSettings& Settings)
{
    m_HardwareFrames = av_hwframe_ctx_alloc(m_HardwareDevice);
    if (!m_HardwareFrames)
        return Kind::OutOfMemory;
    auto* Frames = reinterpret_cast<AVHWFramesContext*>(m_HardwareFrames->data);
    Frames->format = AV_PIX_FMT_VAAPI;
    Frames->sw_format = AV_PIX_FMT_NV12;
    Frames->width = static_cast<int>(Settings.Width);
    Frames->height = static_cast<int>(Settings.Height);
    Frames->initial_pool_size = 8;
    return FfmpegErrorFromAverror(av_hwframe_ctx_init(m_HardwareFrames));
}

FfmpegError FfmpegEncoder::OpenCodec(const char* Name, const FfmpegVideoSettings& Settings, bool GlobalHeader,
                                     AVPixelFormat FrameFormat)
{
    const AVCodec* Codec = avcodec_find_encoder_by_name(Name);
    if (!Codec)
        return Kind::EncoderNotFound;
    m_Context = avcodec_alloc_context3(Codec);
    if (!m_Context)
        return Kind::OutOfMemory;

    AVCodecContext& Context = *m_Context;
    Context.width = static_cast<int>(Settings.Width);
    Context.height = static_cast<int>(Settings.Height);
    av_reduce(&Context.framerate.num, &Context.framerate.den, Settings.FrameRateN, Settings.FrameRateD, INT32_MAX);
    Context.time_base = av_inv_q(Context.framerate);
    av_reduce(&Context.sample_aspect_ratio.num, &Context.sample_aspect_ratio.den, Settings.PixelAspectN,
              Settings.PixelAspectD, INT32_MAX);
    Context.field_order = AV_FIELD_PROGRESSIVE;
    // BT.709, limited range, as the converter writes it.
    Context.color_primaries = AVCOL_PRI_BT709;
    Context.color_trc = AVCOL_TRC_BT709;
    Context.colorspace = AVCOL_SPC_BT709;
    Context.color_range = AVCOL_RANGE_MPEG;
    Context.chroma_sample_location = AVCHROMA_LOC_LEFT;
    // The average bit rate is the target; a one-second buffer at the same
    // peak keeps short runs close to it.
    Context.bit_rate = Settings.AverageBitrate;
    Context.rc_max_rate = Settings.AverageBitrate;
    Context.rc_buffer_size = static_cast<int>(std::min<uint64_t>(Settings.AverageBitrate, INT32_MAX));
    // A key frame at least every two seconds.
    Context.gop_size = static_cast<int>(std::max<uint64_t>(1, 2ull * Settings.FrameRateN / Settings.FrameRateD));
    if (GlobalHeader)
        Context.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

    AVDictionary* Options = nullptr;
    if (m_HardwareFrames)
    {
        Context.pix_fmt =
            static_cast<AVPixelFormat>(reinterpret_cast<AVHWFramesContext*>(m_HardwareFrames->data)->format);
        Context.hw_frames_ctx = av_buffer_ref(m_HardwareFrames);
    }
    else
        Context.pix_fmt = FrameFormat;
    const std::string CodecName = Name;
    if (CodecName == "libx264")
    {
        av_dict_set(&Options, "preset", Settings.Preset.empty() ? FfmpegDefaultPreset : Settings.Preset.c_str(), 0);
        Context.thread_count = 0; // one per core and a half, frame-parallel
        // libx264 logs each frame's PSNR and SSIM against its input, which
        // MeasureFrame sums.
        if (Settings.MeasureError)
        {
            Context.flags |= AV_CODEC_FLAG_PSNR;
            av_dict_set(&Options, "ssim", "1", 0);
        }
    }
    else if (CodecName == "h264_nvenc")
    {
        av_dict_set(&Options, "preset", "p4", 0);
        if (Context.pix_fmt == AV_PIX_FMT_CUDA)
        {
            // Each frame held is a slot of the caller's ring.
            av_dict_set_int(&Options, "delay", NvencDelay, 0);
            Context.max_b_frames = 0;
        }
        else
            av_dict_set_int(&Options, "gpu", m_NvencDevice, 0);
    }

    const int Result = avcodec_open2(m_Context, Codec, &Options);
    av_dict_free(&Options);
    if (Result < 0)
    {
        // The settings, as far as the encoder tells: an encoder library's
        // generic error may also be a lack of memory.
        const Kind Reason = FfmpegErrorFromAverror(Result).What;
        return Reason == Kind::OutOfMemory     ? Kind::OutOfMemory
               : Reason == Kind::EncoderFailed ? Kind::EncoderRefused
                                               : Kind::InvalidSettings;
    }

    m_FrameFormat = FrameFormat;
    if (CodecName == "libx264" && Settings.MeasureError)
    {
        const uint64_t Luma = uint64_t{Settings.Width} * Settings.Height;
        m_PlaneSamples[0] = Luma;
        m_PlaneSamples[1] = m_PlaneSamples[2] = Luma / 4;
        ListenToFfmpegLog(m_Context, [this](const char* Line) { MeasureFrame(Line); });
    }
    m_Input = av_frame_alloc();
    if (!m_Input)
        return Kind::OutOfMemory;
    m_Input->format = FrameFormat;
    m_Input->width = Context.width;
    m_Input->height = Context.height;
    if (av_frame_get_buffer(m_Input, 0) < 0)
        return Kind::OutOfMemory;
    if (Context.pix_fmt == AV_PIX_FMT_VAAPI && !(m_Upload = av_frame_alloc()))
        return Kind::OutOfMemory;
    return {};
}

std::string FfmpegEncoder::Name() const { return m_Context ? m_Context->codec->name : ""; }

AVRational FfmpegEncoder::TimeBase() const { return m_Context ? m_Context->time_base : AVRational{0, 1}; }

AVFrame* FfmpegEncoder::InputFrame()
{
    if (!m_Input || av_frame_make_writable(m_Input) < 0)
        return nullptr;
    return m_Input;
}

FfmpegError FfmpegEncoder::Send(AVFrame* Frame)
{
    if (!m_Context)
        return Kind::NotInitialized;
    if (Frame)
    {
        // Colour description travels with each frame too.
        Frame->color_primaries = m_Context->color_primaries;
        Frame->color_trc = m_Context->color_trc;
        Frame->colorspace = m_Context->colorspace;
        Frame->color_range = m_Context->color_range;
        Frame->sample_aspect_ratio = m_Context->sample_aspect_ratio;
    }
    if (Frame && m_Upload)
    {
        av_frame_unref(m_Upload);
        int Result = av_hwframe_get_buffer(m_HardwareFrames, m_Upload, 0);
        if (Result >= 0)
            Result = av_hwframe_transfer_data(m_Upload, Frame, 0);
        if (Result >= 0)
            Result = av_frame_copy_props(m_Upload, Frame);
        if (Result < 0)
            return FfmpegErrorFromAverror(Result);
        Frame = m_Upload;
    }
    return FfmpegErrorFromAverror(avcodec_send_frame(m_Context, Frame));
}

FfmpegError FfmpegEncoder::Receive(AVPacket* Packet, bool& Received)
{
    Received = false;
    if (!m_Context)
        return Kind::NotInitialized;
    const int Result = avcodec_receive_packet(m_Context, Packet);
    if (Result == AVERROR(EAGAIN) || Result == AVERROR_EOF)
        return {};
    Received = Result >= 0;
    return FfmpegErrorFromAverror(Result);
}

void FfmpegEncoder::MeasureFrame(const char* Line)
{
    // "frame=  12 QP=23.00 NAL=2 Slice:P ... size=737 bytes PSNR Y:47.88
    // U:44.09 V:43.34 SSIM Y:0.99704", once a frame, with 8-bit samples.
    const char* Psnr = std::strstr(Line, " PSNR Y:");
    double Planes[3] = {};
    if (std::strncmp(Line, "frame=", 6) != 0 || !Psnr ||
        std::sscanf(Psnr, " PSNR Y:%lf U:%lf V:%lf", &Planes[0], &Planes[1], &Planes[2]) != 3)
        return;
    const char* Ssim = std::strstr(Line, " SSIM Y:");
    double FrameSsim = 0;
    const bool SsimKnown = Ssim && std::sscanf(Ssim, " SSIM Y:%lf", &FrameSsim) == 1;
    std::lock_guard Guard(m_QualityLock);
    ++m_MeasuredFrames;
    for (int Plane = 0; Plane < 3; ++Plane)
        m_SquaredError[Plane] += 255.0 * 255.0 * m_PlaneSamples[Plane] / std::pow(10.0, Planes[Plane] / 10.0);
    if (SsimKnown)
    {
        ++m_SsimFrames;
        m_SsimSum += FrameSsim;
    }
}

FfmpegQuality FfmpegEncoder::Quality() const
{
    std::lock_guard Guard(m_QualityLock);
    FfmpegQuality Result;
    Result.Frames = m_MeasuredFrames;
    for (int Plane = 0; Plane < 3; ++Plane)
    {
        Result.SquaredError[Plane] = m_SquaredError[Plane];
        Result.Samples[Plane] = m_PlaneSamples[Plane] * m_MeasuredFrames;
    }
    Result.SsimFrames = m_SsimFrames;
    Result.SsimSum = m_SsimSum;
    return Result;
}

} // namespace Platform

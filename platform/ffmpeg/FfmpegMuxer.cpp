#include "FfmpegMuxer.h"

#include <strings.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "FfmpegErrors.h"
#include "FfmpegLog.h"
#include "FfmpegOutputFile.h"

namespace Platform {

namespace {

using Kind = FfmpegError::Kind;

struct Container
{
    const char* Extension;
    const char* Muxer;
};

// Video containers that carry H.264, by extension. ".m4v" is MPEG-4 Part 14
// here, as players read it, not FFmpeg's raw MPEG-4 video of that name.
constexpr Container Containers[] = {
    {"mp4", "mp4"}, {"m4v", "mp4"}, {"mov", "mov"}, {"mkv", "matroska"}, {"3gp", "3gp"}, {"3g2", "3g2"},
};

} // namespace

FfmpegMuxer::FfmpegMuxer() = default;
FfmpegMuxer::~FfmpegMuxer() { Close(); }

const char* FfmpegMuxer::ContainerForPath(const std::string& Path)
{
    const size_t Dot = Path.find_last_of('.');
    const size_t Slash = Path.find_last_of('/');
    if (Dot == std::string::npos || (Slash != std::string::npos && Dot < Slash))
        return nullptr;
    const char* Extension = Path.c_str() + Dot + 1;
    for (const Container& Item : Containers)
        if (strcasecmp(Extension, Item.Extension) == 0)
            return Item.Muxer;
    return nullptr;
}

FfmpegError FfmpegMuxer::Open(const std::string& Path)
{
    if (m_Context)
        return Kind::InvalidRequest;
    InstallFfmpegLog();
    const char* Muxer = ContainerForPath(Path);
    if (!Muxer)
        return Kind::UnsupportedContainer;

    // The file itself is made only when writing begins.
    const FfmpegError Checked = FfmpegOutputFile::Check(Path);
    if (Checked.Failed())
        return Checked;

    const int Result = avformat_alloc_output_context2(&m_Context, nullptr, Muxer, Path.c_str());
    if (Result < 0)
        return FfmpegErrorFromAverror(Result);
    m_Path = Path;
    return {};
}

bool FfmpegMuxer::NeedsGlobalHeader() const { return m_Context && (m_Context->oformat->flags & AVFMT_GLOBALHEADER); }

FfmpegError FfmpegMuxer::AddStream(const AVCodecContext* Encoder, AVRational FrameRate)
{
    if (!m_Context || m_Stream)
        return Kind::InvalidRequest;
    AVStream* Stream = avformat_new_stream(m_Context, nullptr);
    if (!Stream)
        return Kind::OutOfMemory;
    const int Result = avcodec_parameters_from_context(Stream->codecpar, Encoder);
    if (Result < 0)
        return FfmpegErrorFromAverror(Result);
    // The hardware encoders report their surface format; the stream is 4:2:0.
    Stream->codecpar->format = AV_PIX_FMT_YUV420P;
    Stream->time_base = Encoder->time_base;
    Stream->avg_frame_rate = FrameRate;
    Stream->r_frame_rate = FrameRate;
    Stream->sample_aspect_ratio = Encoder->sample_aspect_ratio;
    m_Stream = Stream;
    return {};
}

FfmpegError FfmpegMuxer::Begin()
{
    if (!m_Stream || m_File)
        return Kind::InvalidRequest;
    m_File = std::make_unique<FfmpegOutputFile>();
    const FfmpegError Created = m_File->Create(m_Path);
    if (Created.Failed())
    {
        m_File.reset();
        return Created;
    }
    m_Context->pb = m_File->Io();
    m_Context->flags |= AVFMT_FLAG_CUSTOM_IO;
    const int Result = avformat_write_header(m_Context, nullptr);
    if (Result < 0)
        return FfmpegErrorFromAverror(Result, Kind::FileWrite);
    return {};
}

FfmpegError FfmpegMuxer::Write(AVPacket* Packet, AVRational TimeBase)
{
    if (!m_File)
        return Kind::InvalidRequest;
    // The duration is the distance to the frame's end, both rounded to the
    // container's time base, so that rounding never accumulates.
    const AVRational Container = m_Stream->time_base;
    if (Packet->pts == AV_NOPTS_VALUE)
        av_packet_rescale_ts(Packet, TimeBase, Container);
    else
    {
        const int64_t End = Packet->pts + Packet->duration;
        Packet->pts = av_rescale_q(Packet->pts, TimeBase, Container);
        if (Packet->dts != AV_NOPTS_VALUE)
            Packet->dts = av_rescale_q(Packet->dts, TimeBase, Container);
        Packet->duration = av_rescale_q(End, TimeBase, Container) - Packet->pts;
    }
    Packet->stream_index = m_Stream->index;
    const int Result = av_interleaved_write_frame(m_Context, Packet);
    if (Result < 0)
        return FfmpegErrorFromAverror(Result, Kind::FileWrite);
    ++m_PacketCount;
    return {};
}

FfmpegError FfmpegMuxer::Finish()
{
    if (!m_File)
        return Kind::InvalidRequest;
    const int Result = av_write_trailer(m_Context);
    FfmpegError Finished = Result < 0 ? FfmpegErrorFromAverror(Result, Kind::FileWrite) : m_File->Commit();
    Discard();
    return Finished;
}

void FfmpegMuxer::Discard()
{
    if (m_Context)
        m_Context->pb = nullptr;
    m_File.reset();
}

void FfmpegMuxer::Close()
{
    Discard();
    avformat_free_context(m_Context);
    m_Context = nullptr;
    m_Stream = nullptr;
}

} // namespace Platform

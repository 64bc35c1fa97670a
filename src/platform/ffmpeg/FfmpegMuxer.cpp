#include "FfmpegMuxer.h"

#include <cerrno>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "FfmpegErrors.h"
#include "FfmpegLog.h"

namespace Platform {

namespace {

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

std::string FolderOf(const std::string& Path)
{
    const size_t Slash = Path.find_last_of('/');
    if (Slash == std::string::npos)
        return ".";
    if (Slash == 0)
        return "/";
    return Path.substr(0, Slash);
}

} // namespace

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

HRESULT FfmpegMuxer::Open(const std::string& Path)
{
    if (m_Context)
        return MF_E_INVALIDREQUEST;
    InstallFfmpegLog();
    const char* Muxer = ContainerForPath(Path);
    if (!Muxer)
        return MF_E_UNSUPPORTED_BYTESTREAM_TYPE;

    // The folder must be there and take new files; the file itself is made
    // only when writing begins.
    const std::string Folder = FolderOf(Path);
    struct stat Status = {};
    if (stat(Folder.c_str(), &Status) != 0)
        return HresultFromAverror(AVERROR(errno), FfmpegOperation::CreateFile);
    if (!S_ISDIR(Status.st_mode))
        return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    if (access(Folder.c_str(), W_OK | X_OK) != 0)
        return HresultFromAverror(AVERROR(errno), FfmpegOperation::CreateFile);

    const int Result = avformat_alloc_output_context2(&m_Context, nullptr, Muxer, Path.c_str());
    if (Result < 0)
        return HresultFromAverror(Result);
    m_Path = Path;
    return S_OK;
}

bool FfmpegMuxer::NeedsGlobalHeader() const
{
    return m_Context && (m_Context->oformat->flags & AVFMT_GLOBALHEADER);
}

HRESULT FfmpegMuxer::AddStream(const AVCodecContext* Encoder, AVRational FrameRate)
{
    if (!m_Context || m_Stream)
        return MF_E_INVALIDREQUEST;
    AVStream* Stream = avformat_new_stream(m_Context, nullptr);
    if (!Stream)
        return E_OUTOFMEMORY;
    const int Result = avcodec_parameters_from_context(Stream->codecpar, Encoder);
    if (Result < 0)
        return HresultFromAverror(Result);
    // The hardware encoders report their surface format; the stream is 4:2:0.
    Stream->codecpar->format = AV_PIX_FMT_YUV420P;
    Stream->time_base = Encoder->time_base;
    Stream->avg_frame_rate = FrameRate;
    Stream->r_frame_rate = FrameRate;
    Stream->sample_aspect_ratio = Encoder->sample_aspect_ratio;
    m_Stream = Stream;
    return S_OK;
}

HRESULT FfmpegMuxer::Begin()
{
    if (!m_Stream || m_FileOpen)
        return MF_E_INVALIDREQUEST;
    // "file:" keeps a colon in the path from naming a protocol.
    int Result = avio_open(&m_Context->pb, ("file:" + m_Path).c_str(), AVIO_FLAG_WRITE);
    if (Result < 0)
        return HresultFromAverror(Result, FfmpegOperation::CreateFile);
    m_FileOpen = true;
    Result = avformat_write_header(m_Context, nullptr);
    if (Result < 0)
        return HresultFromAverror(Result);
    return S_OK;
}

HRESULT FfmpegMuxer::Write(AVPacket* Packet, AVRational TimeBase)
{
    if (!m_FileOpen)
        return MF_E_INVALIDREQUEST;
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
        return HresultFromAverror(Result);
    ++m_PacketCount;
    return S_OK;
}

HRESULT FfmpegMuxer::Finish()
{
    if (!m_FileOpen)
        return MF_E_INVALIDREQUEST;
    int Result = av_write_trailer(m_Context);
    const int CloseResult = avio_closep(&m_Context->pb);
    m_FileOpen = false;
    if (Result >= 0)
        Result = CloseResult;
    return Result < 0 ? HresultFromAverror(Result) : S_OK;
}

void FfmpegMuxer::Discard()
{
    if (m_FileOpen)
    {
        avio_closep(&m_Context->pb);
        m_FileOpen = false;
        unlink(m_Path.c_str());
    }
}

void FfmpegMuxer::Close()
{
    if (m_FileOpen)
    {
        avio_closep(&m_Context->pb);
        m_FileOpen = false;
    }
    avformat_free_context(m_Context);
    m_Context = nullptr;
    m_Stream = nullptr;
}

} // namespace Platform

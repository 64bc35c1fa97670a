// The container side of the video writer: picks the format from the path,
// writes header, packets and trailer (libavformat) into a new file that takes
// the path's place only when it is complete.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

extern "C" {
#include <libavutil/rational.h>
}

#include "Ffmpeg/FfmpegError.h"

struct AVCodecContext;
struct AVFormatContext;
struct AVPacket;
struct AVStream;

namespace Platform {

class FfmpegOutputFile;

class FfmpegMuxer
{
public:
    FfmpegMuxer();
    FfmpegMuxer(const FfmpegMuxer&) = delete;
    FfmpegMuxer& operator=(const FfmpegMuxer&) = delete;
    // Without Finish, drops the new file: the path stays as it was.
    ~FfmpegMuxer();

    // FFmpeg's muxer name for the path's extension, or nullptr.
    static const char* ContainerForPath(const std::string& Path);

    // Chooses the container and checks that the path can take a video
    // (FfmpegOutputFile::Check); creates nothing.
    FfmpegError Open(const std::string& Path);
    // Whether the encoder must put its parameter sets in the stream header.
    bool NeedsGlobalHeader() const;
    FfmpegError AddStream(const AVCodecContext* Encoder, AVRational FrameRate);
    // Creates the new file and writes the header.
    FfmpegError Begin();
    // Writes one packet whose times are in TimeBase.
    FfmpegError Write(AVPacket* Packet, AVRational TimeBase);
    // Writes the trailer and puts the file in the path's place.
    FfmpegError Finish();
    // Drops the new file: the path stays as it was.
    void Discard();

    uint64_t PacketCount() const { return m_PacketCount; }

private:
    void Close();

    std::string m_Path;
    AVFormatContext* m_Context = nullptr;
    AVStream* m_Stream = nullptr;
    std::unique_ptr<FfmpegOutputFile> m_File;
    uint64_t m_PacketCount = 0;
};

} // namespace Platform

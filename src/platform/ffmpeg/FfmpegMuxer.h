// The container side of the video writer: picks the format from the path,
// creates the file, writes header, packets and trailer (libavformat).
#pragma once

#include <cstdint>
#include <string>

extern "C" {
#include <libavutil/rational.h>
}

#include "mferror.h"

struct AVCodecContext;
struct AVFormatContext;
struct AVPacket;
struct AVStream;

namespace Platform {

class FfmpegMuxer
{
public:
    FfmpegMuxer() = default;
    FfmpegMuxer(const FfmpegMuxer&) = delete;
    FfmpegMuxer& operator=(const FfmpegMuxer&) = delete;
    // Closes the file without a trailer when Finish did not run; the file stays.
    ~FfmpegMuxer();

    // FFmpeg's muxer name for the path's extension, or nullptr.
    static const char* ContainerForPath(const std::string& Path);

    // Chooses the container and checks that the folder exists and takes
    // files; creates nothing.
    HRESULT Open(const std::string& Path);
    // Whether the encoder must put its parameter sets in the stream header.
    bool NeedsGlobalHeader() const;
    HRESULT AddStream(const AVCodecContext* Encoder, AVRational FrameRate);
    // Creates or replaces the file and writes the header.
    HRESULT Begin();
    // Writes one packet whose times are in TimeBase.
    HRESULT Write(AVPacket* Packet, AVRational TimeBase);
    // Writes the trailer and closes the file.
    HRESULT Finish();
    // Closes the file without a trailer and removes it: for a file that got
    // no packet at all.
    void Discard();

    uint64_t PacketCount() const { return m_PacketCount; }

private:
    void Close();

    std::string m_Path;
    AVFormatContext* m_Context = nullptr;
    AVStream* m_Stream = nullptr;
    bool m_FileOpen = false;
    uint64_t m_PacketCount = 0;
};

} // namespace Platform

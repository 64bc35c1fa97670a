// The H.264 encoder of the video writer (libavcodec): NVENC or VA-API where
// hardware is allowed and one sits on the device that renders, libx264
// otherwise.
#pragma once

#include <mutex>
#include <string>

extern "C" {
#include <libavutil/pixfmt.h>
#include <libavutil/rational.h>
}

#include "Ffmpeg/FfmpegError.h"

struct AVBufferRef;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace Platform {

struct FfmpegDeviceFrame;
struct FfmpegQuality;
struct FfmpegVideoSettings;

class FfmpegEncoder
{
public:
    FfmpegEncoder() = default;
    FfmpegEncoder(const FfmpegEncoder&) = delete;
    FfmpegEncoder& operator=(const FfmpegEncoder&) = delete;
    ~FfmpegEncoder();

    // Opens the first encoder that accepts the settings. GlobalHeader puts
    // the parameter sets in the codec header, as MP4 and Matroska want.
    FfmpegError Open(const FfmpegVideoSettings& Settings, bool GlobalHeader);

    const AVCodecContext* Context() const { return m_Context; }
    std::string Name() const;
    AVRational TimeBase() const;
    // The host-memory format the frames given to Send must have.
    AVPixelFormat FrameFormat() const { return m_FrameFormat; }
    // A frame of FrameFormat and the stream's size that may be written into;
    // the same frame each time unless the encoder still holds it.
    AVFrame* InputFrame();

    // Whether frames in device memory are taken (FfmpegVideoSettings::CudaFrames
    // asked for it and the encoder opened on them); if not, why not.
    bool TakesDeviceFrames() const { return m_DeviceFrames; }
    const std::string& DeviceFramesRefusal() const { return m_DeviceRefusal; }
    // A frame to Send that points into Device's memory; its buffer reference
    // calls Device.Done once the encoder lets it go. Calls Done at once when
    // it fails.
    FfmpegError WrapDeviceFrame(const FfmpegDeviceFrame& Device, AVFrame*& Result);

    // Encodes one frame; nullptr starts draining.
    FfmpegError Send(AVFrame* Frame);
    // Received tells whether a packet came: none while the encoder needs
    // more frames, nor once all are out after draining.
    FfmpegError Receive(AVPacket* Packet, bool& Received);
    // libx264's measure of its error for each frame encoded so far, where it
    // was asked for (FfmpegVideoSettings::MeasureError).
    FfmpegQuality Quality() const;

private:
    FfmpegError OpenCodec(const char* Name, const FfmpegVideoSettings& Settings, bool GlobalHeader,
                          AVPixelFormat FrameFormat);
    FfmpegError CreateVaapiFrames(const FfmpegVideoSettings& Settings);
    FfmpegError OpenOnCudaFrames(const FfmpegVideoSettings& Settings, bool GlobalHeader);
    void Reset();
    // A line of libx264's log: the figures of a frame it encoded.
    void MeasureFrame(const char* Line);

    AVCodecContext* m_Context = nullptr;
    AVBufferRef* m_HardwareDevice = nullptr;
    AVBufferRef* m_HardwareFrames = nullptr;
    AVFrame* m_Input = nullptr;
    AVFrame* m_Upload = nullptr;
    AVPixelFormat m_FrameFormat = AV_PIX_FMT_NONE;
    int m_NvencDevice = -1; // the CUDA ordinal NVENC encodes on
    bool m_DeviceFrames = false;
    std::string m_DeviceRefusal;
    // What libx264 measured of the frames, summed, and each plane's samples.
    mutable std::mutex m_QualityLock;
    uint64_t m_PlaneSamples[3] = {};
    uint64_t m_MeasuredFrames = 0;
    double m_SquaredError[3] = {};
    uint64_t m_SsimFrames = 0;
    double m_SsimSum = 0;
};

} // namespace Platform

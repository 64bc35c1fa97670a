// The video writer that stands behind the Sink Writer: one H.264 stream,
// encoded and muxed with FFmpeg on a thread of its own.
//
// Order of calls: Open, SetVideoStream, BeginWriting, Write..., Finalize.
// Write returns at once unless the queue is full; the worker thread locks
// each frame, converts it to the encoder's format, releases it, encodes and
// muxes. A failure on the worker thread is answered by the next Write or
// Finalize. All calls come from one thread at a time.
//
// The video goes into a new file that takes the output path's place when
// Finalize succeeds (FfmpegOutputFile); after any failure, and when the
// writer goes without Finalize, the path is as it was before.
//
// The worker and the threads it starts (libx264's, libswscale's) run at a
// lower priority than the thread that renders, so that rendering keeps its
// core and the queue takes up the difference.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "FfmpegFrames.h"
#include "FfmpegHardware.h"
#include "FfmpegError.h"

struct AVPacket;

namespace Platform {

class FfmpegEncoder;
class FfmpegFrameConverter;
class FfmpegMuxer;

// Frames that stay in CUDA device memory up to the encoder: h264_nvenc on
// CUDA frames of this context and stream, where it opens so.
struct FfmpegCudaFrames
{
    void* Context = nullptr; // a CUcontext
    void* Stream = nullptr;  // a CUstream, on which the encoder's work is queued
    // Tests: the device addresses are host addresses (a stand-in driver), and
    // libx264 reads them as host NV12 through the same hand-over.
    bool HostAddresses = false;
};

struct FfmpegVideoSettings
{
    uint32_t Width = 0;
    uint32_t Height = 0;
    uint32_t FrameRateN = 0; // frames per second, N/D, kept as the stream's time base D/N
    uint32_t FrameRateD = 0;
    uint32_t PixelAspectN = 1;
    uint32_t PixelAspectD = 1;
    uint32_t AverageBitrate = 0; // bits per second
    FfmpegInputFormat InputFormat = FfmpegInputFormat::B8G8R8A8;
    // Try NVENC, then VA-API, before libx264, where they sit on Adapter.
    bool AllowHardware = false;
    FfmpegAdapter Adapter;
    // The libx264 preset; empty for the measured default (FfmpegDefaultPreset).
    std::string Preset;
    // Where the encoder can, it measures each frame's error against its
    // input (libx264: PSNR and SSIM), for FfmpegVideoWriter::Quality.
    bool MeasureError = false;
    // Frames that may wait for the worker before Write blocks.
    uint32_t QueueCapacity = 8;
    // Frames in device memory (FfmpegFrameView::Device), where the encoder
    // takes them; otherwise host frames as usual (TakesDeviceFrames says).
    std::optional<FfmpegCudaFrames> CudaFrames;
};

// The encoder's own measure of its error against its input, summed over the
// frames it measured: the squared error and the samples of each plane (Y, U,
// V), and the luma's SSIM.
struct FfmpegQuality
{
    uint64_t Frames = 0;
    double SquaredError[3] = {};
    uint64_t Samples[3] = {};
    uint64_t SsimFrames = 0;
    double SsimSum = 0;
};

// The libx264 preset chosen by measurement (bench/ and README).
extern const char* const FfmpegDefaultPreset;

// Flags of Write.
constexpr uint32_t FfmpegFrameKeyFrame = 1; // make this frame an IDR frame

class FfmpegVideoWriter
{
public:
    struct Statistics
    {
        uint64_t FramesWritten = 0; // frames accepted by Write
        uint64_t FramesEncoded = 0; // frames handed to the encoder
        uint64_t PacketsMuxed = 0;
        uint32_t MaximumQueued = 0; // most frames that waited at once
        uint64_t WriteWaits = 0;    // Write calls that found the queue full
        // Where the worker's time went, in nanoseconds: waiting for each
        // frame's pixels (Lock of its source), converting them, handing them
        // to the encoder and taking its packets, writing the packets.
        uint64_t ReadbackTime = 0;
        uint64_t ConvertTime = 0;
        uint64_t EncodeTime = 0;
        uint64_t MuxTime = 0;
        // How the last frame's pixels came (FramesEncoded > 0), and the bytes
        // copied for all frames: by their sources, and by the worker where
        // its conversion is a plain copy.
        FfmpegFramePath FramePath = FfmpegFramePath::InPlace;
        uint64_t BytesCopied = 0;
        // The bytes of the packets muxed (the stream's, not the container's).
        uint64_t BytesMuxed = 0;
    };

    FfmpegVideoWriter();
    FfmpegVideoWriter(const FfmpegVideoWriter&) = delete;
    FfmpegVideoWriter& operator=(const FfmpegVideoWriter&) = delete;
    // Without Finalize: stops the worker, releases the queued frames, drops
    // the new file.
    ~FfmpegVideoWriter();

    // Takes the output path (UTF-8) and picks the container from its
    // extension (.mp4, .m4v, .mov, .mkv, .3gp, .3g2, any case); creates
    // nothing yet. UnsupportedContainer for another extension; FileCreation
    // with ENOENT for a missing folder, with the errno of the refusal for a
    // folder that cannot take the file; TargetIsFolder or TargetNotFile for
    // a path that holds something other than a regular file.
    FfmpegError Open(const std::string& Path);
    // The one video stream; InvalidSettings for a size, rate, aspect
    // or bit rate that cannot be, StreamsFixed for a second one.
    FfmpegError SetVideoStream(const FfmpegVideoSettings& Settings);
    // Starts the worker, which opens the encoder, creates the new file and
    // writes the header; waits for that and answers its result (NoStreams
    // without a stream). After a failure the writer takes nothing more
    // (InvalidRequest).
    FfmpegError BeginWriting();
    // Queues one frame. Time and Duration are in 100-ns units; the time maps
    // to the nearest tick of the stream's time base and must advance past
    // the previous frame's (else InvalidTimestamp). Takes the frame in
    // every case: a refused frame is released before Write returns.
    FfmpegError Write(FfmpegFrameSource* Frame, int64_t Time, int64_t Duration, uint32_t Flags = 0);
    // Drains the queue and the encoder, writes the trailer and puts the file
    // in place. With no frame written: NoFrames. The files' failures are
    // FileCreation and FileWrite with their errno (ENOSPC for a full disk).
    FfmpegError Finalize();

    // The encoder in use, for example "libx264"; empty before BeginWriting.
    std::string EncoderName() const;
    // The encoder with its settings that matter to speed, for example
    // "libx264 superfast"; empty before BeginWriting.
    std::string EncoderDescription() const;
    Statistics GetStatistics() const;
    // Each muxed frame's time from its Write to its packet being muxed, in
    // nanoseconds, in the order muxed.
    std::vector<uint64_t> Latencies() const;
    // The encoder's measure of its error so far; no frames where it does not
    // measure (a hardware encoder, MeasureError off).
    FfmpegQuality Quality() const;
    // After BeginWriting: whether the encoder takes frames in device memory
    // (the settings asked for it and it opened so); if not, why not.
    bool TakesDeviceFrames() const;
    std::string DeviceFramesRefusal() const;

private:
    struct Entry
    {
        FfmpegFrameSource* Frame = nullptr;
        int64_t Pts = 0;
        int64_t DurationTicks = 0;
        uint32_t Flags = 0;
        std::chrono::steady_clock::time_point Written;
    };
    // What the worker keeps of a frame inside the encoder, by presentation
    // time, for its packet.
    struct Pending
    {
        int64_t Pts = -1;
        int64_t DurationTicks = 0;
        std::chrono::steady_clock::time_point Written;
    };
    enum class State
    {
        Created,
        Opened,
        Configured,
        Writing,
        Finished
    };

    void WorkerMain();
    FfmpegError StartOnWorker();
    FfmpegError EncodeEntry(const Entry& Item);
    FfmpegError DrainPackets();
    FfmpegError FinishOnWorker();
    void StopWorker();
    void SetFailure(FfmpegError Result);

    State m_State = State::Created;
    std::string m_Path;
    FfmpegVideoSettings m_Settings;
    std::unique_ptr<FfmpegMuxer> m_Muxer;
    std::unique_ptr<FfmpegEncoder> m_Encoder;
    std::unique_ptr<FfmpegFrameConverter> m_Converter;
    int64_t m_LastPts = -1;

    // The worker's own.
    AVPacket* m_Packet = nullptr;
    std::vector<Pending> m_Pending; // by pts, modulo its size

    // Shared with the worker, under m_Lock.
    mutable std::mutex m_Lock;
    std::condition_variable m_Started;
    bool m_StartDone = false;
    FfmpegError m_StartResult;
    std::condition_variable m_ItemQueued;
    std::condition_variable m_ItemTaken;
    std::vector<Entry> m_Queue; // a ring of QueueCapacity entries
    size_t m_QueueHead = 0;
    size_t m_QueueCount = 0;
    bool m_Finishing = false; // no more frames: drain and write the trailer
    bool m_Stopping = false;  // no more frames: drop what waits
    bool m_WorkerDone = false;
    FfmpegError m_Failure;
    FfmpegError m_FinishResult;
    Statistics m_Statistics;
    std::vector<uint64_t> m_Latencies;

    std::thread m_Worker;
};

} // namespace Platform

#include "Ffmpeg/FfmpegVideoWriter.h"

#include <algorithm>
#include <chrono>
#include <sys/resource.h>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/mathematics.h>
}

#include "FfmpegEncoder.h"
#include "FfmpegErrors.h"
#include "FfmpegFrameConverter.h"
#include "FfmpegMuxer.h"

namespace Platform {

namespace {

using Kind = FfmpegError::Kind;

constexpr AVRational HundredNanoseconds = {1, 10'000'000};

// Nanoseconds since Start, for the worker's figures.
uint64_t Since(std::chrono::steady_clock::time_point Start)
{
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - Start).count());
}

// Nice value added to the worker thread's, and so to the encoder's and
// converter's threads that it starts.
constexpr int WorkerNiceness = 5;

// Durations of the frames inside the encoder, by presentation time, for
// packets that come out without one. Deeper than any encoder's delay.
constexpr size_t DurationSlots = 512;

bool ValidSettings(const FfmpegVideoSettings& Settings)
{
    // 4:2:0 wants even sizes; H.264 levels end at 16384 on a side. Rates
    // and ratios stay within what a time base can hold.
    return Settings.Width > 0 && Settings.Height > 0 && Settings.Width <= 16384 && Settings.Height <= 16384 &&
           Settings.Width % 2 == 0 && Settings.Height % 2 == 0 && Settings.FrameRateN > 0 && Settings.FrameRateD > 0 &&
           Settings.FrameRateN <= INT32_MAX && Settings.FrameRateD <= INT32_MAX && Settings.PixelAspectN > 0 &&
           Settings.PixelAspectD > 0 && Settings.PixelAspectN <= INT32_MAX && Settings.PixelAspectD <= INT32_MAX &&
           Settings.AverageBitrate <= INT32_MAX && Settings.QueueCapacity > 0;
}

} // namespace

FfmpegVideoWriter::FfmpegVideoWriter() = default;

FfmpegVideoWriter::~FfmpegVideoWriter()
{
    StopWorker();
    av_packet_free(&m_Packet);
}

FfmpegError FfmpegVideoWriter::Open(const std::string& Path)
{
    if (m_State != State::Created)
        return Kind::InvalidRequest;
    auto Muxer = std::make_unique<FfmpegMuxer>();
    const FfmpegError Result = Muxer->Open(Path);
    if (Result.Failed())
        return Result;
    m_Muxer = std::move(Muxer);
    m_Path = Path;
    m_State = State::Opened;
    return {};
}

FfmpegError FfmpegVideoWriter::SetVideoStream(const FfmpegVideoSettings& Settings)
{
    if (m_State == State::Configured)
        return Kind::StreamsFixed;
    if (m_State != State::Opened)
        return Kind::InvalidRequest;
    if (!ValidSettings(Settings))
        return Kind::InvalidSettings;
    m_Settings = Settings;
    m_State = State::Configured;
    return {};
}

FfmpegError FfmpegVideoWriter::BeginWriting()
{
    if (m_State == State::Opened)
        return Kind::NoStreams;
    if (m_State != State::Configured)
        return Kind::InvalidRequest;
    m_Packet = av_packet_alloc();
    if (!m_Packet)
        return Kind::OutOfMemory;
    m_Pending.assign(DurationSlots, Pending{});
    m_Queue.assign(m_Settings.QueueCapacity, Entry{});

    // The encoder, the converter and their threads start on the worker, so
    // that all of them run at its lower priority; this call waits for them.
    m_Worker = std::thread(&FfmpegVideoWriter::WorkerMain, this);
    FfmpegError Result;
    {
        std::unique_lock Guard(m_Lock);
        m_Started.wait(Guard, [this] { return m_StartDone; });
        Result = m_StartResult;
    }
    if (Result.Failed())
    {
        m_Worker.join();
        // Nothing can be written; the path stays as it was.
        m_Converter.reset();
        m_Encoder.reset();
        m_Muxer.reset();
        m_State = State::Finished;
        return Result;
    }
    m_State = State::Writing;
    return {};
}

FfmpegError FfmpegVideoWriter::StartOnWorker()
{
    // Rendering feeds this thread; given the same priority, the encoder's
    // threads would take the renderer's core as often as their own and
    // slow the whole pipeline. A queue absorbs the difference instead.
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), getpriority(PRIO_PROCESS, 0) + WorkerNiceness);

    auto Encoder = std::make_unique<FfmpegEncoder>();
    FfmpegError Result = Encoder->Open(m_Settings, m_Muxer->NeedsGlobalHeader());
    if (Result.Failed())
        return Result;
    auto Converter = std::make_unique<FfmpegFrameConverter>();
    Result = FfmpegErrorFromAverror(
        Converter->Initialize(m_Settings.InputFormat, m_Settings.Width, m_Settings.Height, Encoder->FrameFormat()));
    if (Result.Failed())
        return Result;
    Result = m_Muxer->AddStream(Encoder->Context(), AVRational{static_cast<int>(m_Settings.FrameRateN),
                                                               static_cast<int>(m_Settings.FrameRateD)});
    if (!Result.Failed())
        Result = m_Muxer->Begin();
    m_Encoder = std::move(Encoder);
    m_Converter = std::move(Converter);
    return Result;
}

FfmpegError FfmpegVideoWriter::Write(FfmpegFrameSource* Frame, int64_t Time, int64_t Duration, uint32_t Flags)
{
    if (!Frame)
        return Kind::InvalidArgument;
    auto Refuse = [Frame](FfmpegError Result) {
        Frame->Release();
        return Result;
    };
    if (m_State != State::Writing)
        return Refuse(Kind::InvalidRequest);

    // The nearest tick of the stream's time base; frame times computed from
    // the frame index land exactly on consecutive ticks.
    const AVRational TimeBase = m_Encoder->TimeBase();
    Entry Item;
    Item.Frame = Frame;
    Item.Pts = av_rescale_q_rnd(Time, HundredNanoseconds, TimeBase, AV_ROUND_NEAR_INF);
    if (Time < 0 || Item.Pts <= m_LastPts)
        return Refuse(Kind::InvalidTimestamp);
    Duration = std::clamp<int64_t>(Duration, 0, INT64_MAX - Time);
    const int64_t End = av_rescale_q_rnd(Time + Duration, HundredNanoseconds, TimeBase, AV_ROUND_NEAR_INF);
    Item.DurationTicks = std::max<int64_t>(End - Item.Pts, 1);
    Item.Flags = Flags;
    Item.Written = std::chrono::steady_clock::now();

    {
        std::unique_lock Guard(m_Lock);
        if (m_QueueCount == m_Queue.size() && !m_Failure.Failed())
        {
            ++m_Statistics.WriteWaits;
            m_ItemTaken.wait(Guard, [this] { return m_QueueCount < m_Queue.size() || m_Failure.Failed(); });
        }
        if (m_Failure.Failed())
        {
            const FfmpegError Failure = m_Failure;
            Guard.unlock();
            return Refuse(Failure);
        }
        m_Queue[(m_QueueHead + m_QueueCount) % m_Queue.size()] = Item;
        ++m_QueueCount;
        ++m_Statistics.FramesWritten;
        m_Statistics.MaximumQueued = std::max<uint32_t>(m_Statistics.MaximumQueued, m_QueueCount);
    }
    m_ItemQueued.notify_one();
    m_LastPts = Item.Pts;
    return {};
}

FfmpegError FfmpegVideoWriter::Finalize()
{
    if (m_State != State::Writing)
        return Kind::InvalidRequest;
    {
        std::lock_guard Guard(m_Lock);
        m_Finishing = true;
    }
    m_ItemQueued.notify_one();
    m_Worker.join();
    m_State = State::Finished;
    std::lock_guard Guard(m_Lock);
    return m_Failure.Failed() ? m_Failure : m_FinishResult;
}

std::string FfmpegVideoWriter::EncoderName() const { return m_Encoder ? m_Encoder->Name() : std::string(); }

std::string FfmpegVideoWriter::EncoderDescription() const
{
    const std::string Name = EncoderName();
    if (Name != "libx264")
        return Name;
    return Name + " " + (m_Settings.Preset.empty() ? FfmpegDefaultPreset : m_Settings.Preset);
}

bool FfmpegVideoWriter::TakesDeviceFrames() const { return m_Encoder && m_Encoder->TakesDeviceFrames(); }

std::string FfmpegVideoWriter::DeviceFramesRefusal() const
{
    return m_Encoder ? m_Encoder->DeviceFramesRefusal() : std::string();
}

FfmpegVideoWriter::Statistics FfmpegVideoWriter::GetStatistics() const
{
    std::lock_guard Guard(m_Lock);
    return m_Statistics;
}

std::vector<uint64_t> FfmpegVideoWriter::Latencies() const
{
    std::lock_guard Guard(m_Lock);
    return m_Latencies;
}

FfmpegQuality FfmpegVideoWriter::Quality() const { return m_Encoder ? m_Encoder->Quality() : FfmpegQuality{}; }

void FfmpegVideoWriter::StopWorker()
{
    if (!m_Worker.joinable())
        return;
    {
        std::lock_guard Guard(m_Lock);
        m_Stopping = true;
    }
    m_ItemQueued.notify_one();
    m_Worker.join();
}

void FfmpegVideoWriter::SetFailure(FfmpegError Result)
{
    {
        std::lock_guard Guard(m_Lock);
        if (!m_Failure.Failed())
            m_Failure = Result;
    }
    // A writer waiting for room learns of it at once.
    m_ItemTaken.notify_all();
}

void FfmpegVideoWriter::WorkerMain()
{
    const FfmpegError Started = StartOnWorker();
    {
        std::lock_guard Guard(m_Lock);
        m_StartResult = Started;
        m_StartDone = true;
    }
    m_Started.notify_one();
    if (Started.Failed())
        return;

    for (;;)
    {
        Entry Item;
        bool Failed = false;
        {
            std::unique_lock Guard(m_Lock);
            m_ItemQueued.wait(Guard, [this] { return m_QueueCount > 0 || m_Finishing || m_Stopping; });
            if (m_QueueCount == 0 || m_Stopping)
            {
                // Frames still queued when the writer goes are given back unread.
                while (m_QueueCount > 0)
                {
                    Item = m_Queue[m_QueueHead];
                    m_QueueHead = (m_QueueHead + 1) % m_Queue.size();
                    --m_QueueCount;
                    Guard.unlock();
                    Item.Frame->Release();
                    Guard.lock();
                }
                break;
            }
            Item = m_Queue[m_QueueHead];
            m_QueueHead = (m_QueueHead + 1) % m_Queue.size();
            --m_QueueCount;
            Failed = m_Failure.Failed();
        }
        m_ItemTaken.notify_one();
        if (Failed)
        {
            Item.Frame->Release();
            continue;
        }
        const FfmpegError Result = EncodeEntry(Item);
        if (Result.Failed())
            SetFailure(Result);
    }

    bool Finishing = false;
    {
        std::lock_guard Guard(m_Lock);
        Finishing = m_Finishing && !m_Stopping && !m_Failure.Failed();
    }
    if (Finishing)
    {
        const FfmpegError Result = FinishOnWorker();
        std::lock_guard Guard(m_Lock);
        m_FinishResult = Result;
    }
}

FfmpegError FfmpegVideoWriter::EncodeEntry(const Entry& Item)
{
    FfmpegFrameView View;
    auto Start = std::chrono::steady_clock::now();
    FfmpegError Result = Item.Frame->Lock(View);
    const uint64_t Readback = Since(Start);
    AVFrame* Frame = nullptr;
    // A frame in device memory goes to the encoder as it lies; its own
    // buffer reference gives the memory back when the encoder is done.
    AVFrame* DeviceFrame = nullptr;
    Start = std::chrono::steady_clock::now();
    if (!Result.Failed() && View.Device.Address)
        Result = m_Encoder->WrapDeviceFrame(View.Device, DeviceFrame);
    else if (!Result.Failed())
    {
        Frame = m_Encoder->InputFrame();
        Result = Frame ? FfmpegErrorFromAverror(m_Converter->Convert(View, Frame)) : Kind::OutOfMemory;
    }
    const uint64_t Convert = Since(Start);
    // The pixels are in the encoder's frame now: the source may go back.
    Item.Frame->Release();
    if (Result.Failed())
        return Result;
    std::unique_ptr<AVFrame, void (*)(AVFrame*)> Wrapped(DeviceFrame, [](AVFrame* Done) { av_frame_free(&Done); });
    if (DeviceFrame)
        Frame = DeviceFrame;

    Frame->pts = Item.Pts;
    Frame->pkt_duration = Item.DurationTicks;
    Frame->pict_type = (Item.Flags & FfmpegFrameKeyFrame) ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    m_Pending[static_cast<size_t>(Item.Pts) % m_Pending.size()] = {Item.Pts, Item.DurationTicks, Item.Written};
    Start = std::chrono::steady_clock::now();
    Result = m_Encoder->Send(Frame);
    const uint64_t Encode = Since(Start);
    if (Result.Failed())
        return Result;
    {
        std::lock_guard Guard(m_Lock);
        ++m_Statistics.FramesEncoded;
        m_Statistics.FramePath = View.Path;
        // A device frame is not converted: nothing of the converter's counts.
        m_Statistics.BytesCopied += View.BytesCopied + (DeviceFrame ? 0 : m_Converter->BytesCopied());
        m_Statistics.ReadbackTime += Readback;
        m_Statistics.ConvertTime += Convert;
        m_Statistics.EncodeTime += Encode;
    }
    return DrainPackets();
}

FfmpegError FfmpegVideoWriter::DrainPackets()
{
    for (;;)
    {
        auto Start = std::chrono::steady_clock::now();
        bool Received = false;
        FfmpegError Result = m_Encoder->Receive(m_Packet, Received);
        const uint64_t Encode = Since(Start);
        if (Result.Failed() || !Received)
        {
            std::lock_guard Guard(m_Lock);
            m_Statistics.EncodeTime += Encode;
            return Result;
        }
        const Pending& Frame = m_Pending[static_cast<size_t>(m_Packet->pts) % m_Pending.size()];
        const bool Known = Frame.Pts == m_Packet->pts;
        if (m_Packet->duration <= 0)
            m_Packet->duration = Known ? Frame.DurationTicks : 1;
        const uint64_t Bytes = static_cast<uint64_t>(m_Packet->size);
        Start = std::chrono::steady_clock::now();
        Result = m_Muxer->Write(m_Packet, m_Encoder->TimeBase());
        av_packet_unref(m_Packet);
        const uint64_t Mux = Since(Start);
        if (Result.Failed())
            return Result;
        std::lock_guard Guard(m_Lock);
        ++m_Statistics.PacketsMuxed;
        m_Statistics.EncodeTime += Encode;
        m_Statistics.MuxTime += Mux;
        m_Statistics.BytesMuxed += Bytes;
        if (Known)
            m_Latencies.push_back(Since(Frame.Written));
    }
}

FfmpegError FfmpegVideoWriter::FinishOnWorker()
{
    uint64_t Encoded = 0;
    {
        std::lock_guard Guard(m_Lock);
        Encoded = m_Statistics.FramesEncoded;
    }
    if (Encoded == 0)
    {
        // A file with a header and nothing else is no video: the path stays
        // as it was.
        m_Muxer->Discard();
        return Kind::NoFrames;
    }
    FfmpegError Result = m_Encoder->Send(nullptr);
    if (!Result.Failed())
        Result = DrainPackets();
    if (!Result.Failed())
        return m_Muxer->Finish();
    m_Muxer->Discard();
    return Result;
}

} // namespace Platform

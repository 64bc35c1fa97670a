// The sink writer: one H.264 stream written by the FFmpeg video writer.
// WriteSample keeps the sample, starts reading its texture back (converted
// to NV12 on the device where that is the way) and returns, waiting only
// while a few frames are still to be converted; the writer's worker waits for
// the pixels, lets the sample go (so that it returns to its pool) and then
// converts, encodes and muxes. The encoder is chosen for the device that
// renders.

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>
#include <optional>
#include <vector>

#include <wrl/implements.h>
#include "Ffmpeg/FfmpegVideoWriter.h"
#include "Win32/Utf8.h"
#include "D3D11/DeviceFacts.h"
#include "CudaFramePath.h"
#include "FfmpegDebugLog.h"
#include "FfmpegResults.h"
#include "RenderingDevice.h"
#include "SampleFrame.h"
#include <mfapi.h>
#include <mfreadwrite.h>

namespace Platform {

namespace {

using namespace Microsoft::WRL;

// Frames whose readback can be under way at once, each a frame's worth of
// host memory. It also bounds how far rendering runs ahead of the encoder:
// a readback queued behind many later frames would keep the encoder waiting
// (measured at 1080p: 17.0-17.4 s for 600 frames with the readback on the
// worker, 16.0-16.4 s with 2 to 8 begun here).
constexpr size_t ReadbackCount = 4;

const wchar_t* FramePathName(FfmpegFramePath Path)
{
    switch (Path)
    {
    case FfmpegFramePath::InPlace: return L"in-place";
    case FfmpegFramePath::Cuda: return L"cuda";
    case FfmpegFramePath::ReadbackNv12: return L"readback-nv12";
    case FfmpegFramePath::ReadbackBgra: return L"readback-bgra";
    }
    return L"";
}

// The PSNR in dB of 8-bit samples with this squared error, 100 for none (as
// libx264 caps a frame's).
double Psnr(double SquaredError, uint64_t Samples)
{
    if (SquaredError <= 0)
        return 100.0;
    return std::min(100.0, 10.0 * std::log10(255.0 * 255.0 * static_cast<double>(Samples) / SquaredError));
}

class SinkWriter final : public RuntimeClass<RuntimeClassFlags<ClassicCom>, IMFSinkWriter>
{
public:
    SinkWriter(ComPtr<IMFDXGIDeviceManager> DeviceManager, bool AllowHardware, SinkWriterConversion Conversion,
               bool MeasureQuality)
        : m_DeviceManager(std::move(DeviceManager)),
          m_AllowHardware(AllowHardware),
          m_MeasureQuality(MeasureQuality),
          m_Conversion(Conversion),
          m_Device(ManagedDevice(m_DeviceManager.Get())),
          m_Adapter(DescribeAdapter(m_Device.Get()))
    {}

    HRESULT Open(LPCWSTR Path) { return HresultFromFfmpeg(m_Writer.Open(Utf8FromWide(Path))); }

    STDMETHODIMP AddStream(IMFMediaType* TargetMediaType, DWORD* StreamIndex) override
    {
        if (!TargetMediaType || !StreamIndex)
            return E_POINTER;
        std::lock_guard Guard(m_Lock);
        if (m_Settings)
            return MF_E_STREAMSINKS_FIXED;
        GUID Major{}, Subtype{};
        FfmpegVideoSettings Settings;
        if (FAILED(TargetMediaType->GetGUID(MF_MT_MAJOR_TYPE, &Major)) || Major != MFMediaType_Video ||
            FAILED(TargetMediaType->GetGUID(MF_MT_SUBTYPE, &Subtype)) || Subtype != MFVideoFormat_H264 ||
            FAILED(MFGetAttributeSize(TargetMediaType, MF_MT_FRAME_SIZE, &Settings.Width, &Settings.Height)) ||
            FAILED(
                MFGetAttributeRatio(TargetMediaType, MF_MT_FRAME_RATE, &Settings.FrameRateN, &Settings.FrameRateD)) ||
            FAILED(TargetMediaType->GetUINT32(MF_MT_AVG_BITRATE, &Settings.AverageBitrate)))
            return MF_E_INVALIDMEDIATYPE;
        if (FAILED(MFGetAttributeRatio(TargetMediaType, MF_MT_PIXEL_ASPECT_RATIO, &Settings.PixelAspectN,
                                       &Settings.PixelAspectD)))
            Settings.PixelAspectN = Settings.PixelAspectD = 1;
        UINT32 Interlace = MFVideoInterlace_Progressive;
        TargetMediaType->GetUINT32(MF_MT_INTERLACE_MODE, &Interlace);
        if (Interlace != MFVideoInterlace_Progressive)
            return MF_E_INVALIDMEDIATYPE;
        Settings.AllowHardware = m_AllowHardware;
        Settings.MeasureError = m_MeasureQuality;
        Settings.Adapter = m_Adapter;
        // The allocator's pool bounds what is in flight; the queue never blocks.
        Settings.QueueCapacity = 64;
        m_Settings = Settings;
        *StreamIndex = 0;
        return S_OK;
    }

    STDMETHODIMP SetInputMediaType(DWORD StreamIndex, IMFMediaType* InputMediaType, IMFAttributes*) override
    {
        if (!InputMediaType)
            return E_POINTER;
        std::lock_guard Guard(m_Lock);
        if (!m_Settings || StreamIndex != 0)
            return MF_E_INVALIDSTREAMNUMBER;
        if (m_InputSet)
            return MF_E_INVALIDREQUEST;
        GUID Subtype{};
        UINT32 Width = 0, Height = 0;
        if (FAILED(InputMediaType->GetGUID(MF_MT_SUBTYPE, &Subtype)) ||
            FAILED(MFGetAttributeSize(InputMediaType, MF_MT_FRAME_SIZE, &Width, &Height)) ||
            Width != m_Settings->Width || Height != m_Settings->Height)
            return MF_E_INVALIDMEDIATYPE;
        if (Subtype == MFVideoFormat_ARGB32 || Subtype == MFVideoFormat_RGB32)
            m_Declared = FfmpegInputFormat::B8G8R8A8;
        else if (Subtype == MFVideoFormat_NV12)
            m_Declared = FfmpegInputFormat::Nv12;
        else
            return MF_E_INVALIDMEDIATYPE;
        // Converted on the device, the frames reach the encoder as NV12.
        m_Convert = m_Declared == FfmpegInputFormat::B8G8R8A8 && ConvertsOnDevice(m_Adapter, m_Conversion);
        m_Settings->InputFormat = m_Convert ? FfmpegInputFormat::Nv12 : m_Declared;
        m_Cuda = CudaFramePath::TryFor(m_Device.Get(), m_AllowHardware, m_Convert, *m_Settings);
        const HRESULT Result = HresultFromFfmpeg(m_Writer.SetVideoStream(*m_Settings));
        m_InputSet = SUCCEEDED(Result);
        return Result;
    }

    STDMETHODIMP BeginWriting() override
    {
        std::lock_guard Guard(m_Lock);
        if (!m_InputSet)
            return m_Settings ? MF_E_INVALIDMEDIATYPE : MF_E_SINK_NO_STREAMS;
        m_DeviceTimeAtStart = D3D11::BusyTimeOf(m_Device.Get());
        const HRESULT Result = HresultFromFfmpeg(m_Writer.BeginWriting());
        CudaFramePath::KeepIfTaken(m_Cuda, m_Writer);
        return Result;
    }

    STDMETHODIMP WriteSample(DWORD StreamIndex, IMFSample* Sample) override
    {
        if (!Sample)
            return E_POINTER;
        std::lock_guard Guard(m_Lock);
        if (StreamIndex != 0 || !m_InputSet)
            return MF_E_INVALIDSTREAMNUMBER;
        LONGLONG Time = 0, Duration = 0;
        HRESULT Result = Sample->GetSampleTime(&Time);
        if (FAILED(Result))
            return Result;
        if (FAILED(Sample->GetSampleDuration(&Duration)))
            Duration = 0;
        DWORD BufferCount = 0;
        if (FAILED(Result = Sample->GetBufferCount(&BufferCount)))
            return Result;
        if (BufferCount == 0)
            return E_INVALIDARG;
        if (m_Cuda)
        {
            FfmpegFrameSource* Frame = nullptr;
            if (FAILED(Result = m_Cuda->Start(Sample, Frame)))
                return Result;
            return HresultFromFfmpeg(m_Writer.Write(Frame, Time, Duration));
        }
        auto* Frame = new (std::nothrow)
            SampleFrame(Sample, m_Readbacks, m_Readback, m_Declared, m_Convert,
                        m_Conversion != SinkWriterConversionHostReadback, m_Settings->Width, m_Settings->Height);
        if (!Frame)
            return E_OUTOFMEMORY;
        Frame->Start();
        return HresultFromFfmpeg(m_Writer.Write(Frame, Time, Duration));
    }

    STDMETHODIMP SendStreamTick(DWORD, LONGLONG) override { return S_OK; }
    STDMETHODIMP PlaceMarker(DWORD, LPVOID) override { return E_NOTIMPL; }
    STDMETHODIMP NotifyEndOfSegment(DWORD) override { return S_OK; }
    STDMETHODIMP Flush(DWORD) override { return E_NOTIMPL; }

    STDMETHODIMP Finalize() override
    {
        std::lock_guard Guard(m_Lock);
        return HresultFromFfmpeg(m_Writer.Finalize());
    }

    STDMETHODIMP GetServiceForStream(DWORD StreamIndex, REFGUID Service, REFIID Riid, LPVOID* Object) override
    {
        if (!Object)
            return E_POINTER;
        *Object = nullptr;
        if (StreamIndex != 0)
            return MF_E_INVALIDSTREAMNUMBER;
        if (Service != OSTREL_SINK_WRITER_TIMINGS)
            return MF_E_UNSUPPORTED_SERVICE;
        ComPtr<IMFAttributes> Timings;
        HRESULT Result = MFCreateAttributes(Timings.GetAddressOf(), 8);
        if (FAILED(Result))
            return Result;
        const FfmpegVideoWriter::Statistics Counts = m_Writer.GetStatistics();
        // Nanoseconds to the platform's 100-ns units.
        const std::pair<const GUID&, uint64_t> Figures[] = {
            {OSTREL_SINK_WRITER_FRAMES, Counts.FramesEncoded},
            {OSTREL_SINK_WRITER_DEVICE_TIME, (D3D11::BusyTimeOf(m_Device.Get()) - m_DeviceTimeAtStart) / 100},
            {OSTREL_SINK_WRITER_READBACK_TIME, Counts.ReadbackTime / 100},
            {OSTREL_SINK_WRITER_CONVERT_TIME, Counts.ConvertTime / 100},
            {OSTREL_SINK_WRITER_ENCODE_TIME, Counts.EncodeTime / 100},
            {OSTREL_SINK_WRITER_MUX_TIME, Counts.MuxTime / 100},
            {OSTREL_SINK_WRITER_BYTES_COPIED, Counts.BytesCopied},
        };
        for (const auto& [Key, Value] : Figures)
            if (FAILED(Result = Timings->SetUINT64(Key, Value)))
                return Result;
        if (FAILED(Result = Timings->SetString(OSTREL_SINK_WRITER_ENCODER,
                                               WideFromUtf8(m_Writer.EncoderDescription()).c_str())))
            return Result;
        if (Counts.FramesEncoded > 0 &&
            FAILED(Result = Timings->SetString(OSTREL_SINK_WRITER_FRAME_PATH, FramePathName(Counts.FramePath))))
            return Result;
        std::vector<uint64_t> Latencies = m_Writer.Latencies();
        for (uint64_t& Latency : Latencies)
            Latency /= 100;
        if (!Latencies.empty() && FAILED(Result = Timings->SetBlob(OSTREL_SINK_WRITER_LATENCIES,
                                                                   reinterpret_cast<const UINT8*>(Latencies.data()),
                                                                   static_cast<UINT32>(Latencies.size() * 8))))
            return Result;
        const FfmpegQuality Quality = m_Writer.Quality();
        if (Quality.Frames > 0)
        {
            const double Error = Quality.SquaredError[0] + Quality.SquaredError[1] + Quality.SquaredError[2];
            const uint64_t Samples = Quality.Samples[0] + Quality.Samples[1] + Quality.Samples[2];
            if (FAILED(Result = Timings->SetDouble(OSTREL_SINK_WRITER_PSNR_Y,
                                                   Psnr(Quality.SquaredError[0], Quality.Samples[0]))) ||
                FAILED(Result = Timings->SetDouble(OSTREL_SINK_WRITER_PSNR_AVERAGE, Psnr(Error, Samples))))
                return Result;
        }
        if (Quality.SsimFrames > 0 &&
            FAILED(Result = Timings->SetDouble(OSTREL_SINK_WRITER_SSIM, Quality.SsimSum / Quality.SsimFrames)))
            return Result;
        return Timings->QueryInterface(Riid, Object);
    }

    STDMETHODIMP GetStatistics(DWORD StreamIndex, MF_SINK_WRITER_STATISTICS* Statistics) override
    {
        if (!Statistics)
            return E_POINTER;
        if (StreamIndex != 0)
            return MF_E_INVALIDSTREAMNUMBER;
        const FfmpegVideoWriter::Statistics Counts = m_Writer.GetStatistics();
        *Statistics = {};
        Statistics->cb = sizeof *Statistics;
        Statistics->qwNumSamplesReceived = Counts.FramesWritten;
        Statistics->qwNumSamplesEncoded = Counts.FramesEncoded;
        Statistics->qwNumSamplesProcessed = Counts.PacketsMuxed;
        Statistics->qwByteCountProcessed = Counts.BytesMuxed;
        return S_OK;
    }

private:
    std::mutex m_Lock;
    const ComPtr<IMFDXGIDeviceManager> m_DeviceManager;
    const bool m_AllowHardware;
    const bool m_MeasureQuality;
    const SinkWriterConversion m_Conversion;
    // The device that renders the frames, and how long it had been busy when
    // writing began.
    const ComPtr<ID3D11Device> m_Device;
    const FfmpegAdapter m_Adapter;
    std::atomic<uint64_t> m_DeviceTimeAtStart{0};
    std::optional<FfmpegVideoSettings> m_Settings;
    bool m_InputSet = false;
    FfmpegInputFormat m_Declared = FfmpegInputFormat::B8G8R8A8; // the samples' pixels
    bool m_Convert = false;                                     // B8G8R8A8 textures to NV12 on the device
    // Readbacks begun by WriteSample, and the worker's own for frames that
    // found none free.
    ReadbackRing m_Readbacks{ReadbackCount};
    D3D11::TextureReadback m_Readback;
    // Frames through CUDA into the encoder, where that path was taken; it
    // outlives the writer, whose encoder holds its frames.
    std::unique_ptr<CudaFramePath> m_Cuda;
    // Last: it stops its worker, which uses the members above, first.
    FfmpegVideoWriter m_Writer;
};

} // namespace

} // namespace Platform

HRESULT MFCreateSinkWriterFromURL(LPCWSTR pwszOutputURL, IMFByteStream* pByteStream, IMFAttributes* pAttributes,
                                  IMFSinkWriter** ppSinkWriter)
{
    if (!pwszOutputURL || !ppSinkWriter)
        return E_POINTER;
    *ppSinkWriter = nullptr;
    if (pByteStream)
        return E_INVALIDARG;
    Microsoft::WRL::ComPtr<IMFDXGIDeviceManager> DeviceManager;
    UINT32 AllowHardware = 0;
    UINT32 Conversion = SinkWriterConversionDefault;
    UINT32 MeasureQuality = 0;
    if (pAttributes)
    {
        pAttributes->GetUINT32(OSTREL_SINK_WRITER_MEASURE_QUALITY, &MeasureQuality);
        pAttributes->GetUnknown(MF_SINK_WRITER_D3D_MANAGER, IID_PPV_ARGS(&DeviceManager));
        pAttributes->GetUINT32(MF_READWRITE_ENABLE_HARDWARE_TRANSFORMS, &AllowHardware);
        pAttributes->GetUINT32(OSTREL_SINK_WRITER_CONVERSION, &Conversion);
    }
    if (Conversion > SinkWriterConversionHostReadback)
        return E_INVALIDARG;
    Platform::SendFfmpegLogToDebugger();
    auto Writer = Microsoft::WRL::Make<Platform::SinkWriter>(
        DeviceManager, AllowHardware != 0, static_cast<SinkWriterConversion>(Conversion), MeasureQuality != 0);
    if (!Writer)
        return E_OUTOFMEMORY;
    const HRESULT Result = Writer->Open(pwszOutputURL);
    if (FAILED(Result))
        return Result;
    *ppSinkWriter = Writer.Detach();
    return S_OK;
}

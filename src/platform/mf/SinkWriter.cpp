// The sink writer: one H.264 stream written by the FFmpeg video writer.
// WriteSample keeps the sample, starts reading its texture back and returns
// (waiting only while a few frames are still to be converted); the writer's
// worker waits for the pixels, lets the sample go (so that it returns to its
// pool) and then converts, encodes and muxes. The encoder is chosen for the
// device that renders.

#include <condition_variable>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "../com/wrl/implements.h"
#include "../d3d11/Readback.h"
#include "../win32/Utf8.h"
#include "../ffmpeg/FfmpegVideoWriter.h"
#include "RenderingDevice.h"
#include "mfapi.h"
#include "mfreadwrite.h"

namespace Platform {

namespace {

using namespace Microsoft::WRL;

// Frames whose readback can be under way at once, each a frame's worth of
// host memory. It also bounds how far rendering runs ahead of the encoder:
// a readback queued behind many later frames would keep the encoder waiting
// (measured at 1080p: 17.0-17.4 s for 600 frames with the readback on the
// worker, 16.0-16.4 s with 2 to 8 begun here).
constexpr size_t ReadbackCount = 4;

// Readbacks begun as samples are written, so that each copy is queued right
// behind its own frame's rendering rather than behind the frames rendered
// while the sample waited for the encoder.
class ReadbackRing
{
public:
    explicit ReadbackRing(size_t Count) : m_Readbacks(Count)
    {
        for (D3D11::TextureReadback& Readback : m_Readbacks)
            m_Free.push_back(&Readback);
    }

    // Waits while every readback is in use.
    D3D11::TextureReadback* Take()
    {
        std::unique_lock Guard(m_Lock);
        m_Returned.wait(Guard, [this] { return !m_Free.empty(); });
        D3D11::TextureReadback* Readback = m_Free.back();
        m_Free.pop_back();
        return Readback;
    }
    void Give(D3D11::TextureReadback* Readback)
    {
        {
            std::lock_guard Guard(m_Lock);
            m_Free.push_back(Readback);
        }
        m_Returned.notify_one();
    }

private:
    std::mutex m_Lock;
    std::condition_variable m_Returned;
    std::vector<D3D11::TextureReadback> m_Readbacks;
    std::vector<D3D11::TextureReadback*> m_Free;
};

// One written sample on its way to the encoder.
class SampleFrame final : public FfmpegFrameSource
{
public:
    SampleFrame(IMFSample* Sample, ReadbackRing& Ring, D3D11::TextureReadback& Fallback, FfmpegInputFormat Format,
                uint32_t Width, uint32_t Height)
        : m_Sample(Sample), m_Ring(Ring), m_Fallback(Fallback), m_Format(Format), m_Width(Width), m_Height(Height)
    {
    }

    // On the writing thread: starts reading the texture back, first waiting
    // for a free readback when the encoder is that far behind.
    void Start()
    {
        if (FAILED(m_Sample->GetBufferByIndex(0, &m_Buffer)) || FAILED(m_Buffer.As(&m_DxgiBuffer)) ||
            FAILED(m_DxgiBuffer->GetResource(IID_PPV_ARGS(&m_Texture))))
            return;
        m_Started = m_Ring.Take();
        if (m_Started && FAILED(m_Started->Begin(m_Texture.Get())))
            m_Ring.Give(std::exchange(m_Started, nullptr));
    }

    HRESULT Lock(FfmpegFrameView& View) override
    {
        HRESULT Result = S_OK;
        if (!m_Buffer && FAILED(Result = m_Sample->GetBufferByIndex(0, &m_Buffer)))
            return Result;
        if (m_Texture)
        {
            D3D11::TextureReadback& Readback = m_Started ? *m_Started : m_Fallback;
            Result = m_Started ? m_Started->Finish() : m_Fallback.Read(m_Texture.Get());
            m_Finished = true;
            if (FAILED(Result))
                return Result;
            for (size_t Plane = 0; Plane < Readback.Layout().size() && Plane < 2; ++Plane)
            {
                View.Planes[Plane] = Readback.Data() + Readback.Layout()[Plane].m_Offset;
                View.Pitches[Plane] = static_cast<int>(Readback.Layout()[Plane].m_RowPitch);
            }
            // The pixels are safe: the sample may go back to its pool now.
            m_Texture.Reset();
            m_DxgiBuffer.Reset();
            m_Buffer.Reset();
            m_Sample.Reset();
            return S_OK;
        }
        // A buffer in memory: rows of the frame's width, planes one after another.
        BYTE* Data = nullptr;
        if (FAILED(Result = m_Buffer->Lock(&Data, nullptr, nullptr)))
            return Result;
        m_Locked = true;
        const int Pitch = static_cast<int>(m_Format == FfmpegInputFormat::B8G8R8A8 ? m_Width * 4 : m_Width);
        View.Planes[0] = Data;
        View.Pitches[0] = Pitch;
        if (m_Format == FfmpegInputFormat::Nv12)
        {
            View.Planes[1] = Data + static_cast<size_t>(Pitch) * m_Height;
            View.Pitches[1] = Pitch;
        }
        return S_OK;
    }

    void Release() override
    {
        if (m_Locked)
            m_Buffer->Unlock();
        if (m_Started)
        {
            // A copy still on its way must land before its buffer is reused.
            if (!m_Finished)
                m_Started->Finish();
            m_Ring.Give(m_Started);
        }
        delete this;
    }

private:
    ComPtr<IMFSample> m_Sample;
    ComPtr<IMFMediaBuffer> m_Buffer;
    ComPtr<IMFDXGIBuffer> m_DxgiBuffer;
    ComPtr<ID3D11Texture2D> m_Texture;
    ReadbackRing& m_Ring;
    D3D11::TextureReadback& m_Fallback;
    D3D11::TextureReadback* m_Started = nullptr;
    bool m_Finished = false;
    const FfmpegInputFormat m_Format;
    const uint32_t m_Width;
    const uint32_t m_Height;
    bool m_Locked = false;
};

class SinkWriter final : public RuntimeClass<RuntimeClassFlags<ClassicCom>, IMFSinkWriter>
{
public:
    SinkWriter(ComPtr<IMFDXGIDeviceManager> DeviceManager, bool AllowHardware)
        : m_DeviceManager(std::move(DeviceManager)), m_AllowHardware(AllowHardware),
          m_Adapter(DescribeAdapter(ManagedDevice(m_DeviceManager.Get()).Get()))
    {
    }

    HRESULT Open(LPCWSTR Path) { return m_Writer.Open(Utf8FromWide(Path)); }

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
            FAILED(MFGetAttributeRatio(TargetMediaType, MF_MT_FRAME_RATE, &Settings.FrameRateN,
                                       &Settings.FrameRateD)) ||
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
            m_Settings->InputFormat = FfmpegInputFormat::B8G8R8A8;
        else if (Subtype == MFVideoFormat_NV12)
            m_Settings->InputFormat = FfmpegInputFormat::Nv12;
        else
            return MF_E_INVALIDMEDIATYPE;
        const HRESULT Result = m_Writer.SetVideoStream(*m_Settings);
        m_InputSet = SUCCEEDED(Result);
        return Result;
    }

    STDMETHODIMP BeginWriting() override
    {
        std::lock_guard Guard(m_Lock);
        if (!m_InputSet)
            return m_Settings ? MF_E_INVALIDMEDIATYPE : MF_E_SINK_NO_STREAMS;
        return m_Writer.BeginWriting();
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
        auto* Frame = new (std::nothrow) SampleFrame(Sample, m_Readbacks, m_Readback, m_Settings->InputFormat,
                                                    m_Settings->Width, m_Settings->Height);
        if (!Frame)
            return E_OUTOFMEMORY;
        Frame->Start();
        return m_Writer.Write(Frame, Time, Duration);
    }

    STDMETHODIMP SendStreamTick(DWORD, LONGLONG) override { return S_OK; }
    STDMETHODIMP PlaceMarker(DWORD, LPVOID) override { return E_NOTIMPL; }
    STDMETHODIMP NotifyEndOfSegment(DWORD) override { return S_OK; }
    STDMETHODIMP Flush(DWORD) override { return E_NOTIMPL; }

    STDMETHODIMP Finalize() override
    {
        std::lock_guard Guard(m_Lock);
        return m_Writer.Finalize();
    }

    STDMETHODIMP GetServiceForStream(DWORD, REFGUID, REFIID, LPVOID* Object) override
    {
        if (Object)
            *Object = nullptr;
        return E_NOTIMPL;
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
        return S_OK;
    }

private:
    std::mutex m_Lock;
    const ComPtr<IMFDXGIDeviceManager> m_DeviceManager;
    const bool m_AllowHardware;
    const FfmpegAdapter m_Adapter;
    std::optional<FfmpegVideoSettings> m_Settings;
    bool m_InputSet = false;
    // Readbacks begun by WriteSample, and the worker's own for frames that
    // found none free.
    ReadbackRing m_Readbacks{ReadbackCount};
    D3D11::TextureReadback m_Readback;
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
    if (pAttributes)
    {
        pAttributes->GetUnknown(MF_SINK_WRITER_D3D_MANAGER, IID_PPV_ARGS(&DeviceManager));
        pAttributes->GetUINT32(MF_READWRITE_ENABLE_HARDWARE_TRANSFORMS, &AllowHardware);
    }
    auto Writer = Microsoft::WRL::Make<Platform::SinkWriter>(DeviceManager, AllowHardware != 0);
    if (!Writer)
        return E_OUTOFMEMORY;
    const HRESULT Result = Writer->Open(pwszOutputURL);
    if (FAILED(Result))
        return Result;
    *ppSinkWriter = Writer.Detach();
    return S_OK;
}

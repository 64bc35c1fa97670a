// The encoding run: render each frame, copy it on the device into a pooled
// sample and hand the sample to the sink writer.

#include <atomic>
#include <utility>

#include <windows.h>

#include <d3d10.h>
#include <d3d11.h>
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mfreadwrite.h>
#include <ostrel/sinkwriter.h>

#include "Common.h"
#include "Application.h"
#include "Context.h"
#include "Format.h"
#include "Progress.h"
#include "Statistics.h"

#include "Explanation.h"
#include "VideoSampleAllocator.h"
#include "diagnostics/Check.h"

namespace {

// Media Foundation for the span of the run; converts to the start-up's
// result, which the run checks.
class MfStartupWrapper
{
public:
    MfStartupWrapper() : m_Result(MFStartup(MF_VERSION, MFSTARTUP_FULL)) {}
    ~MfStartupWrapper()
    {
        if (SUCCEEDED(m_Result))
            MFShutdown();
    }
    MfStartupWrapper(const MfStartupWrapper&) = delete;
    MfStartupWrapper& operator=(const MfStartupWrapper&) = delete;

    operator HRESULT() const { return m_Result; }

private:
    HRESULT m_Result;
};

// Ctrl-C, a closed terminal or a request to end the process stop the run at
// its next frame, which then unwinds like any failure. Converts to the
// registration's failure, then to HRESULT_FROM_WIN32(ERROR_CANCELLED) once an
// event has come.
class ConsoleCtrlHandlerWrapper
{
public:
    ConsoleCtrlHandlerWrapper()
    {
        s_Cancelled.store(false);
        m_Result = SetConsoleCtrlHandler(Handler, TRUE) ? S_OK : HRESULT_FROM_WIN32(GetLastError());
    }
    ~ConsoleCtrlHandlerWrapper()
    {
        if (SUCCEEDED(m_Result))
            SetConsoleCtrlHandler(Handler, FALSE);
    }
    ConsoleCtrlHandlerWrapper(const ConsoleCtrlHandlerWrapper&) = delete;
    ConsoleCtrlHandlerWrapper& operator=(const ConsoleCtrlHandlerWrapper&) = delete;

    operator HRESULT() const
    {
        if (FAILED(m_Result))
            return m_Result;
        return s_Cancelled.load(std::memory_order_relaxed) ? HRESULT_FROM_WIN32(ERROR_CANCELLED) : S_OK;
    }

private:
    static BOOL WINAPI Handler(DWORD)
    {
        s_Cancelled.store(true, std::memory_order_relaxed);
        return TRUE;
    }

    static std::atomic<bool> s_Cancelled;
    HRESULT m_Result;
};

std::atomic<bool> ConsoleCtrlHandlerWrapper::s_Cancelled{false};

// Calls its function when the scope ends, by unwinding too.
template <typename Function>
class OnScopeEnd
{
public:
    explicit OnScopeEnd(Function Call) : m_Call(std::move(Call)) {}
    ~OnScopeEnd() { m_Call(); }
    OnScopeEnd(const OnScopeEnd&) = delete;
    OnScopeEnd& operator=(const OnScopeEnd&) = delete;

private:
    Function m_Call;
};

} // namespace

HRESULT Application::Do()
{
    if (m_OutputPath.empty())
    {
        PrintSyntax();
        return S_OK;
    }
    using Microsoft::WRL::ComPtr;
    try
    {
        ConsoleCtrlHandlerWrapper ConsoleCtrlHandlerWrapper;
        CheckResult(ConsoleCtrlHandlerWrapper);
        Context Context(m_Configuration);
        MfStartupWrapper MfStartupWrapper;
        CheckResult(MfStartupWrapper);

        ComPtr<IMFMediaType> Argb32MediaType;
        CheckResult(MFCreateMediaType(Argb32MediaType.GetAddressOf()));
        CheckResult(Argb32MediaType->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video));
        CheckResult(Argb32MediaType->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_ARGB32));
        CheckResult(MFSetAttributeSize(Argb32MediaType.Get(), MF_MT_FRAME_SIZE, m_Configuration.m_FrameSizeW,
                                       m_Configuration.m_FrameSizeH));
        CheckResult(MFSetAttributeRatio(Argb32MediaType.Get(), MF_MT_PIXEL_ASPECT_RATIO, 1, 1));
        CheckResult(Argb32MediaType->SetUINT32(MF_MT_INTERLACE_MODE, MFVideoInterlace_Progressive));
        CheckResult(MFSetAttributeRatio(Argb32MediaType.Get(), MF_MT_FRAME_RATE, m_Configuration.m_FrameRateN,
                                        m_Configuration.m_FrameRateD));

        ComPtr<ID3D10Multithread> Multithread;
        CheckResult(Context.m_Device.As(&Multithread));
        Multithread->SetMultithreadProtected(TRUE);

        UINT ResetToken;
        ComPtr<IMFDXGIDeviceManager> DeviceManager;
        CheckResult(MFCreateDXGIDeviceManager(&ResetToken, DeviceManager.GetAddressOf()));
        CheckResult(DeviceManager->ResetDevice(Context.m_Device.Get(), ResetToken));

        ComPtr<IMFVideoSampleAllocatorEx> VideoSampleAllocatorEx = Microsoft::WRL::Make<VideoSampleAllocator>();
        CheckCondition(VideoSampleAllocatorEx, E_OUTOFMEMORY);
        CheckResult(VideoSampleAllocatorEx->SetDirectXManager(DeviceManager.Get()));
        {
            ComPtr<IMFAttributes> Attributes;
            CheckResult(MFCreateAttributes(Attributes.GetAddressOf(), 8));
            CheckResult(
                Attributes->SetUINT32(MF_SA_D3D11_BINDFLAGS, D3D11_BIND_SHADER_RESOURCE | D3D11_BIND_RENDER_TARGET));
            CheckResult(Attributes->SetUINT32(MF_SA_D3D11_USAGE, D3D11_USAGE_DEFAULT));
            CheckResult(
                VideoSampleAllocatorEx->InitializeSampleAllocatorEx(16, 64, Attributes.Get(), Argb32MediaType.Get()));
        }

        ComPtr<IMFMediaType> H264MediaType;
        CheckResult(MFCreateMediaType(H264MediaType.GetAddressOf()));
        CheckResult(H264MediaType->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video));
        CheckResult(H264MediaType->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_H264));
        MF::Copy(Argb32MediaType.Get(), H264MediaType.Get(), MF_MT_FRAME_SIZE);
        MF::Copy(Argb32MediaType.Get(), H264MediaType.Get(), MF_MT_PIXEL_ASPECT_RATIO);
        MF::Copy(Argb32MediaType.Get(), H264MediaType.Get(), MF_MT_INTERLACE_MODE);
        MF::Copy(Argb32MediaType.Get(), H264MediaType.Get(), MF_MT_FRAME_RATE);
        CheckResult(H264MediaType->SetUINT32(MF_MT_AVG_BITRATE, m_Configuration.m_Bitrate));

        ComPtr<IMFSinkWriter> SinkWriter;
        {
            ComPtr<IMFAttributes> Attributes;
            CheckResult(MFCreateAttributes(Attributes.GetAddressOf(), 8));
            CheckResult(Attributes->SetUINT32(MF_READWRITE_ENABLE_HARDWARE_TRANSFORMS, 1));
            CheckResult(Attributes->SetUnknown(MF_SINK_WRITER_D3D_MANAGER, DeviceManager.Get()));
            // Asked of this platform's writer only; another one ignores it
            // and the run reports no quality.
            if (Statistics::MeasuresQuality())
                Attributes->SetUINT32(OSTREL_SINK_WRITER_MEASURE_QUALITY, 1);
            CheckResult(
                MFCreateSinkWriterFromURL(m_OutputPath.c_str(), nullptr, Attributes.Get(), SinkWriter.GetAddressOf()));
        }
        DWORD StreamIndex;
        CheckResult(SinkWriter->AddStream(H264MediaType.Get(), &StreamIndex));
        CheckResult(SinkWriter->SetInputMediaType(StreamIndex, Argb32MediaType.Get(), nullptr));
        CheckResult(SinkWriter->BeginWriting());

        const UINT32 FrameCount = static_cast<UINT32>(
            MulDiv(m_Configuration.m_Duration, m_Configuration.m_FrameRateN, m_Configuration.m_FrameRateD));
        const DWORD StartTick = GetTickCount();
        const double FrameRate = static_cast<double>(m_Configuration.m_FrameRateN) / m_Configuration.m_FrameRateD;
        Progress Progress(FrameCount, GetTickCount64(), FrameRate, SinkWriter.Get(), StreamIndex);
        Statistics Statistics;
        // A run that a console control event stops says, on a terminal, how
        // far it came, on a line of its own, before its failure's line.
        UINT32 FramesWritten = 0;
        bool Completed = false;
        const OnScopeEnd Interrupted([&] {
            if (Completed || ConsoleCtrlHandlerWrapper != HRESULT_FROM_WIN32(ERROR_CANCELLED))
                return;
            try
            {
                const DWORD Elapsed = GetTickCount() - StartTick;
                Progress.Erase(true);
                if (FramesWritten == 0)
                    return;
                Statistics::Figures Figures =
                    Statistics.Collect(Context.m_DxgiAdapterDesc1.Description, SinkWriter.Get(), StreamIndex,
                                       FramesWritten, Elapsed / 1000.0);
                Figures.m_Interrupted = true;
                Statistics::Report(Figures, m_Configuration, m_OutputPath);
            }
            catch (...)
            {
                // The summary is a courtesy: the run's own failure follows.
            }
        });
        for (UINT32 FrameIndex = 0; FrameIndex < FrameCount; ++FrameIndex)
        {
            CheckResult(ConsoleCtrlHandlerWrapper);
            const LONGLONG SampleTime =
                MFllMulDiv(FrameIndex, 1000 * 10000LL * m_Configuration.m_FrameRateD, m_Configuration.m_FrameRateN, 0);
            auto Stamp = Statistics::Clock::now();
            Context.Render(static_cast<float>(SampleTime) / 10000000.0f);
            Statistics.Submit(Stamp);

            ComPtr<IMFSample> Sample;
            Stamp = Statistics::Clock::now();
            for (;;)
            {
                const HRESULT AllocateSampleResult =
                    VideoSampleAllocatorEx->AllocateSample(Sample.ReleaseAndGetAddressOf());
                if (AllocateSampleResult != MF_E_SAMPLEALLOCATOR_EMPTY)
                {
                    CheckResult(AllocateSampleResult);
                    break;
                }
                CheckResult(ConsoleCtrlHandlerWrapper);
                Sleep(10);
            }
            Statistics.WaitForSample(Stamp);
            ComPtr<IMFMediaBuffer> MediaBuffer;
            CheckResult(Sample->ConvertToContiguousBuffer(&MediaBuffer));
            ComPtr<IMFDXGIBuffer> DxgiBuffer;
            CheckResult(MediaBuffer.As(&DxgiBuffer));
            ComPtr<ID3D11Texture2D> Texture;
            CheckResult(DxgiBuffer->GetResource(IID_PPV_ARGS(&Texture)));
            UINT SubresourceIndex;
            CheckResult(DxgiBuffer->GetSubresourceIndex(&SubresourceIndex));
            Stamp = Statistics::Clock::now();
            Context.m_DeviceContext->CopyResource(Texture.Get(), Context.m_Texture.Get());
            Statistics.Submit(Stamp);

            CheckResult(Sample->SetSampleTime(SampleTime));
            // The traced text keeps the tool's own spelling of the 64-bit
            // literal, 10000i64, which this compiler does not take.
            CheckResultAs(
                Sample->SetSampleDuration(MFllMulDiv(FrameIndex + 1, 1000 * 10000LL * m_Configuration.m_FrameRateD,
                                                     m_Configuration.m_FrameRateN, 0) -
                                          SampleTime),
                "Sample->SetSampleDuration(MFllMulDiv(FrameIndex + 1, 1000 * 10000i64 * m_Configuration.m_FrameRateD, "
                "m_Configuration.m_FrameRateN, 0) - SampleTime)");
            if (FrameIndex == 0)
                CheckResult(Sample->SetUINT32(MFSampleExtension_Discontinuity, 1));
            CheckResult(Sample->SetUINT32(MFSampleExtension_CleanPoint, 1));
            Stamp = Statistics::Clock::now();
            CheckResult(SinkWriter->WriteSample(StreamIndex, Sample.Get()));
            Statistics.WaitForWriter(Stamp);
            Texture.Reset();
            DxgiBuffer.Reset();
            MediaBuffer.Reset();
            Sample.Reset();
            FramesWritten = FrameIndex + 1;
            Progress.Update(FramesWritten, GetTickCount64());
        }
        CheckResult(ConsoleCtrlHandlerWrapper);
        CheckResult(SinkWriter->Finalize());
        const DWORD Elapsed = GetTickCount() - StartTick;
        CheckResult(VideoSampleAllocatorEx->UninitializeSampleAllocator());
        Completed = true;
        Progress.Erase();
        Statistics::Report(Statistics.Collect(Context.m_DxgiAdapterDesc1.Description, SinkWriter.Get(), StreamIndex,
                                              FrameCount, Elapsed / 1000.0),
                           m_Configuration, m_OutputPath);
        PrintLine(Format("Elapsed Time: %.2f seconds", Elapsed / 1000.0));
        return S_OK;
    }
    catch (const ComException& Exception)
    {
        PrintLine(Format("Exception: 0x%08X", Exception.m_Result));
        PrintExplanation(Exception.m_Result, m_Configuration);
        return Exception.m_Result;
    }
    catch (...)
    {
        PrintLine("Exception");
        return E_FAIL;
    }
}

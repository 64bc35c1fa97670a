#include "CudaFramePath.h"

#include <utility>

#include <wrl/client.h>
#include "Win32/Utf8.h"
#include <d3d11.h>
#include <debugapi.h>
#include <mfapi.h>

#include "FfmpegResults.h"

namespace Platform {

namespace {

// Rows of the ring's frames start where CUDA's own pitched allocations put them.
constexpr uint32_t PitchAlignment = 256;

// The one place where the CUDA back end's failures become HRESULTs.
HRESULT HresultFromCuda(const Cuda::Error& Failure)
{
    if (!Failure.Failed())
        return S_OK;
    return Failure.m_Result == Cuda::CUDA_ERROR_OUT_OF_MEMORY ? E_OUTOFMEMORY : MF_E_UNEXPECTED;
}

} // namespace

// One frame on its way to the encoder: its slot, written by the device up
// to a timeline value. Lock hands the slot over to the encoder; a frame
// dropped before that gives it back itself.
class CudaFramePath::Frame final : public FfmpegFrameSource
{
public:
    Frame(CudaFramePath& Owner, size_t Index, uint64_t Written) : m_Owner(Owner), m_Index(Index), m_Written(Written) {}

    FfmpegError Lock(FfmpegFrameView& View) override
    {
        // The encoder's stream waits on the device; without the timeline,
        // this thread waits until the frame is written.
        const HRESULT Result = m_Owner.m_Session->HasTimeline()
                                   ? HresultFromCuda(m_Owner.m_Session->WaitOnStream(m_Written))
                                   : m_Owner.m_Export->Wait(m_Written);
        if (FAILED(Result))
            return FfmpegErrorFromHresult(Result);
        Slot& Handed = m_Owner.m_Slots[m_Index];
        View.Device.Address = Handed.m_Address;
        View.Device.Pitch = static_cast<int>(m_Owner.m_Export->Pitch());
        View.Device.Done = &CudaFramePath::Returned;
        View.Device.Context = &Handed;
        View.Format = FfmpegInputFormat::Nv12;
        View.Path = FfmpegFramePath::Cuda;
        View.BytesCopied = 0; // the frame never leaves device memory
        m_HandedOver = true;
        return {};
    }

    void Release() override
    {
        if (!m_HandedOver)
        {
            // A write still on its way must land before the slot is reused.
            m_Owner.m_Export->Wait(m_Written);
            m_Owner.Give(m_Index);
        }
        delete this;
    }

private:
    CudaFramePath& m_Owner;
    const size_t m_Index;
    const uint64_t m_Written;
    bool m_HandedOver = false;
};

bool CudaFramePath::Applies(const FfmpegAdapter& Adapter, bool AllowHardware, bool ConvertsOnDevice)
{
    if (!ConvertsOnDevice || Adapter.m_Kind == FfmpegAdapter::Kind::Unknown)
        return false;
    // Nothing is loaded for other adapters, unless a test put a stand-in in place.
    const bool Nvidia =
        AllowHardware && Adapter.m_Kind == FfmpegAdapter::Kind::Hardware && Adapter.m_VendorId == FfmpegNvidiaVendorId;
    if (!Nvidia && !Cuda::InjectedDriver())
        return false;
    return true;
}

std::unique_ptr<CudaFramePath> CudaFramePath::Create(ID3D11Device* Device, uint32_t Width, uint32_t Height,
                                                     std::string& Reason)
{
    std::unique_ptr<CudaFramePath> Created(new (std::nothrow) CudaFramePath());
    if (!Created)
    {
        Reason = "out of memory";
        return nullptr;
    }
    Created->m_Driver = Cuda::LoadDriver(Reason);
    if (!Created->m_Driver)
        return nullptr;
    const uint32_t Pitch = (Width + PitchAlignment - 1) / PitchAlignment * PitchAlignment;
    if (FAILED(D3D11::FrameExport::Create(Device, Width, Height, Pitch, RingSize, Created->m_Export)))
    {
        Reason = "the device does not export its memory";
        return nullptr;
    }
    const Cuda::Error Opened =
        Cuda::Session::Open(*Created->m_Driver, Created->m_Export->DeviceUuid(), Created->m_Session);
    if (Opened.Failed())
    {
        Reason = Opened.Text(Created->m_Driver);
        return nullptr;
    }
    for (size_t Index = 0; Index < RingSize; ++Index)
    {
        D3D11::ExportedMemory Memory;
        if (FAILED(Created->m_Export->ExportMemory(Index, Memory)))
        {
            Reason = "the device does not export a frame's memory";
            return nullptr;
        }
        Cuda::CUdeviceptr Address = 0;
        const Cuda::Error Imported = Created->m_Session->ImportBuffer(
            Memory.m_Descriptor, Memory.m_AllocationSize, Memory.m_Dedicated, Created->m_Export->FrameSize(), Address);
        if (Imported.Failed())
        {
            Reason = Imported.Text(Created->m_Driver);
            return nullptr;
        }
        Created->m_Slots.push_back({Created.get(), Index, Address});
        Created->m_Free.push_back(RingSize - 1 - Index);
    }
    // Where the timeline cannot go to CUDA, the worker waits on the host.
    int Timeline = -1;
    if (SUCCEEDED(Created->m_Export->ExportTimeline(Timeline)))
        Created->m_Session->ImportTimeline(Timeline);
    return Created;
}

CudaFramePath::~CudaFramePath()
{
    // The session goes before the frames' memory, after its last reader.
    m_Session.reset();
    m_Export.reset();
}

FfmpegCudaFrames CudaFramePath::WriterSettings() const
{
    return {m_Session->Context(), m_Session->Stream(), m_Driver->m_HostAddresses};
}

size_t CudaFramePath::Take()
{
    std::unique_lock Guard(m_Lock);
    m_Returned.wait(Guard, [this] { return !m_Free.empty(); });
    const size_t Index = m_Free.back();
    m_Free.pop_back();
    return Index;
}

void CudaFramePath::Give(size_t Index)
{
    {
        std::lock_guard Guard(m_Lock);
        m_Free.push_back(Index);
    }
    m_Returned.notify_one();
}

void CudaFramePath::Returned(void* Context)
{
    const Slot& Handed = *static_cast<const Slot*>(Context);
    Handed.m_Owner->Give(Handed.m_Index);
}

HRESULT CudaFramePath::Start(IMFSample* Sample, FfmpegFrameSource*& Result)
{
    Result = nullptr;
    Microsoft::WRL::ComPtr<IMFMediaBuffer> Buffer;
    Microsoft::WRL::ComPtr<IMFDXGIBuffer> DxgiBuffer;
    Microsoft::WRL::ComPtr<ID3D11Texture2D> Texture;
    HRESULT Status = Sample->GetBufferByIndex(0, &Buffer);
    if (SUCCEEDED(Status))
        Status = Buffer.As(&DxgiBuffer);
    if (SUCCEEDED(Status))
        Status = DxgiBuffer->GetResource(IID_PPV_ARGS(&Texture));
    if (FAILED(Status))
        return Status;
    const size_t Index = Take();
    uint64_t Written = 0;
    // Recorded behind the sample's rendering: once that is submitted, the
    // device orders any later write of the texture after the conversion,
    // and the sample may go back to its pool.
    Status = m_Export->Convert(Texture.Get(), Index, Written);
    if (FAILED(Status))
    {
        Give(Index);
        return Status;
    }
    Result = new (std::nothrow) Frame(*this, Index, Written);
    if (!Result)
    {
        m_Export->Wait(Written);
        Give(Index);
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

std::unique_ptr<CudaFramePath> CudaFramePath::TryFor(ID3D11Device* Device, bool AllowHardware, bool ConvertsOnDevice,
                                                     FfmpegVideoSettings& Settings)
{
    Settings.CudaFrames.reset();
    if (!Applies(Settings.Adapter, AllowHardware, ConvertsOnDevice))
        return nullptr;
    std::string Reason;
    std::unique_ptr<CudaFramePath> Path = Create(Device, Settings.Width, Settings.Height, Reason);
    if (!Path)
    {
        TraceFallback(Reason);
        return nullptr;
    }
    Settings.CudaFrames = Path->WriterSettings();
    return Path;
}

void CudaFramePath::KeepIfTaken(std::unique_ptr<CudaFramePath>& Path, const FfmpegVideoWriter& Writer)
{
    if (!Path || Writer.TakesDeviceFrames())
        return;
    TraceFallback(Writer.DeviceFramesRefusal());
    Path.reset();
}

void CudaFramePath::TraceFallback(const std::string& Reason)
{
    OutputDebugStringW(
        WideFromUtf8("Sink writer: frames go through host memory, not through CUDA: " + Reason + "\n").c_str());
}

} // namespace Platform

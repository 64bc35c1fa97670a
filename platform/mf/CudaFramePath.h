// Frames from the device that renders to NVENC through CUDA, never leaving
// device memory: the device converts each texture into a ring of NV12
// buffers that CUDA imported once, and the encoder reads them where they
// lie; a slot returns to the ring when the encoder lets its frame go. The
// encoder's CUDA stream waits for the conversion on the device where the
// device exports its timeline, else the writer's worker waits on the host.
//
// Tried before the first frame only on an NVIDIA hardware adapter with
// hardware transforms allowed (or with a test's stand-in driver); whatever
// fails then leaves the writer on the readback path, with one line on the
// debugger output channel that says why.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Cuda/Session.h"
#include "D3D11/FrameExport.h"
#include "Ffmpeg/FfmpegVideoWriter.h"
#include <mfobjects.h>

struct ID3D11Device;

namespace Platform {

class CudaFramePath
{
public:
    // Frames in the ring: enough for NVENC's delay, the frame being
    // converted and the one being encoded.
    static constexpr size_t RingSize = 6;

    // Whether the path is worth trying: B8G8R8A8 textures converted on an
    // NVIDIA hardware adapter, hardware transforms allowed, a CUDA driver
    // present (a stand-in counts, whatever the adapter).
    static bool Applies(const FfmpegAdapter& Adapter, bool AllowHardware, bool ConvertsOnDevice);
    // The ring, the imports and the session for frames of Width x Height on
    // Device; null when any of it fails, Reason then says why.
    static std::unique_ptr<CudaFramePath> Create(ID3D11Device* Device, uint32_t Width, uint32_t Height,
                                                 std::string& Reason);
    // Every frame handed to the encoder must have come back: the encoder goes first.
    ~CudaFramePath();
    CudaFramePath(const CudaFramePath&) = delete;
    CudaFramePath& operator=(const CudaFramePath&) = delete;

    // What the writer's settings carry so that its encoder takes the frames.
    FfmpegCudaFrames WriterSettings() const;

    // On the writing thread: converts Sample's texture into a free slot,
    // first waiting for one while the encoder holds them all, and answers
    // the frame to write.
    HRESULT Start(IMFSample* Sample, FfmpegFrameSource*& Frame);

    // The sink writer's steps. Before the stream's settings are fixed: the
    // path where it applies and can be set up, with Settings asking the
    // writer's encoder for device frames; null otherwise.
    static std::unique_ptr<CudaFramePath> TryFor(ID3D11Device* Device, bool AllowHardware, bool ConvertsOnDevice,
                                                 FfmpegVideoSettings& Settings);
    // Once the writer has begun: the path stays only where its encoder
    // takes device frames.
    static void KeepIfTaken(std::unique_ptr<CudaFramePath>& Path, const FfmpegVideoWriter& Writer);

    // Says on the debugger output channel why frames go through host memory.
    static void TraceFallback(const std::string& Reason);

private:
    class Frame;
    struct Slot
    {
        CudaFramePath* m_Owner;
        size_t m_Index;
        Cuda::CUdeviceptr m_Address;
    };

    CudaFramePath() = default;
    size_t Take();
    void Give(size_t Index);
    static void Returned(void* Slot);

    const Cuda::Driver* m_Driver = nullptr;
    std::unique_ptr<D3D11::FrameExport> m_Export;
    std::unique_ptr<Cuda::Session> m_Session;
    std::vector<Slot> m_Slots;

    std::mutex m_Lock;
    std::condition_variable m_Returned;
    std::vector<size_t> m_Free;
};

} // namespace Platform

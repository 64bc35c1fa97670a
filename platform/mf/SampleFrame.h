// A written sample on its way to the FFmpeg writer: the frame source that
// reads the sample's texture back (converted on the device, or as it is),
// reads it where it lies (a device whose memory is the host's), or locks its
// memory buffer, and lets the sample go as soon as its pixels are safe, so
// that it returns to its pool: after the readback, or after the writer has
// converted the pixels that it read in place.
#pragma once

#include <condition_variable>
#include <mutex>
#include <vector>

#include <wrl/client.h>
#include "D3D11/Readback.h"
#include "Ffmpeg/FfmpegFrames.h"
#include <mfobjects.h>

namespace Platform {

// Readbacks begun as samples are written, so that each copy is queued right
// behind its own frame's rendering rather than behind the frames rendered
// while the sample waited for the encoder.
class ReadbackRing
{
public:
    explicit ReadbackRing(size_t Count);

    // Waits while every readback is in use.
    D3D11::TextureReadback* Take();
    void Give(D3D11::TextureReadback* Readback);

private:
    std::mutex m_Lock;
    std::condition_variable m_Returned;
    std::vector<D3D11::TextureReadback> m_Readbacks;
    std::vector<D3D11::TextureReadback*> m_Free;
};

class SampleFrame final : public FfmpegFrameSource
{
public:
    // Declared: the layout of the samples' pixels (the stream's input type).
    // Convert: textures of B8G8R8A8 come as NV12, converted on the device,
    // where the device can. Otherwise, with InPlace, a texture that the host
    // can read where it lies is read so.
    SampleFrame(IMFSample* Sample, ReadbackRing& Ring, D3D11::TextureReadback& Fallback, FfmpegInputFormat Declared,
                bool Convert, bool InPlace, uint32_t Width, uint32_t Height);

    // On the writing thread: starts reading the texture back, first waiting
    // for a free readback when the encoder is that far behind.
    void Start();

    FfmpegError Lock(FfmpegFrameView& View) override;
    void Release() override;

private:
    HRESULT LockTexture(FfmpegFrameView& View);
    HRESULT LockMemory(FfmpegFrameView& View);

    Microsoft::WRL::ComPtr<IMFSample> m_Sample;
    Microsoft::WRL::ComPtr<IMFMediaBuffer> m_Buffer;
    Microsoft::WRL::ComPtr<ID3D11Texture2D> m_Texture;
    ReadbackRing& m_Ring;
    D3D11::TextureReadback& m_Fallback;
    D3D11::TextureReadback* m_Started = nullptr;
    D3D11::TextureReadback m_InPlace; // m_Started when the texture is read where it lies
    D3D11::TextureReadback::Output m_Output = D3D11::TextureReadback::Output::Native;
    bool m_Finished = false;
    const FfmpegInputFormat m_Declared;
    const bool m_Convert;
    const bool m_ReadInPlace;
    const uint32_t m_Width;
    const uint32_t m_Height;
    bool m_Locked = false;
};

} // namespace Platform

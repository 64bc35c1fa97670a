#include "SampleFrame.h"

#include <utility>

#include <mfapi.h>

#include "FfmpegResults.h"

namespace Platform {

ReadbackRing::ReadbackRing(size_t Count) : m_Readbacks(Count)
{
    for (D3D11::TextureReadback& Readback : m_Readbacks)
        m_Free.push_back(&Readback);
}

D3D11::TextureReadback* ReadbackRing::Take()
{
    std::unique_lock Guard(m_Lock);
    m_Returned.wait(Guard, [this] { return !m_Free.empty(); });
    D3D11::TextureReadback* Readback = m_Free.back();
    m_Free.pop_back();
    return Readback;
}

void ReadbackRing::Give(D3D11::TextureReadback* Readback)
{
    {
        std::lock_guard Guard(m_Lock);
        m_Free.push_back(Readback);
    }
    m_Returned.notify_one();
}

SampleFrame::SampleFrame(IMFSample* Sample, ReadbackRing& Ring, D3D11::TextureReadback& Fallback,
                         FfmpegInputFormat Declared, bool Convert, bool InPlace, uint32_t Width, uint32_t Height)
    : m_Sample(Sample),
      m_Ring(Ring),
      m_Fallback(Fallback),
      m_Declared(Declared),
      m_Convert(Convert),
      m_ReadInPlace(InPlace),
      m_Width(Width),
      m_Height(Height)
{}

void SampleFrame::Start()
{
    Microsoft::WRL::ComPtr<IMFDXGIBuffer> DxgiBuffer;
    if (FAILED(m_Sample->GetBufferByIndex(0, &m_Buffer)) || FAILED(m_Buffer.As(&DxgiBuffer)) ||
        FAILED(DxgiBuffer->GetResource(IID_PPV_ARGS(&m_Texture))))
        return;
    if (m_Convert && D3D11::TextureReadback::Converts(m_Texture.Get()))
        m_Output = D3D11::TextureReadback::Output::Nv12;
    else if (m_ReadInPlace && D3D11::TextureReadback::ReadsInPlace(m_Texture.Get()))
    {
        // Nothing is copied: the sample stays out of its pool until the
        // writer has converted its pixels.
        m_Output = D3D11::TextureReadback::Output::InPlace;
        if (SUCCEEDED(m_InPlace.Begin(m_Texture.Get(), m_Output)))
            m_Started = &m_InPlace;
        return;
    }
    m_Started = m_Ring.Take();
    if (m_Started && FAILED(m_Started->Begin(m_Texture.Get(), m_Output)))
        m_Ring.Give(std::exchange(m_Started, nullptr));
}

FfmpegError SampleFrame::Lock(FfmpegFrameView& View)
{
    HRESULT Result = S_OK;
    if (!m_Buffer && FAILED(Result = m_Sample->GetBufferByIndex(0, &m_Buffer)))
        return FfmpegErrorFromHresult(Result);
    return FfmpegErrorFromHresult(m_Texture ? LockTexture(View) : LockMemory(View));
}

HRESULT SampleFrame::LockTexture(FfmpegFrameView& View)
{
    D3D11::TextureReadback& Readback = m_Started ? *m_Started : m_Fallback;
    const HRESULT Result = m_Started ? m_Started->Finish() : m_Fallback.Read(m_Texture.Get(), m_Output);
    m_Finished = true;
    if (FAILED(Result))
        return Result;
    for (size_t Plane = 0; Plane < Readback.Layout().size() && Plane < 2; ++Plane)
    {
        View.Planes[Plane] = Readback.Data() + Readback.Layout()[Plane].m_Offset;
        View.Pitches[Plane] = static_cast<int>(Readback.Layout()[Plane].m_RowPitch);
    }
    View.Format = m_Output == D3D11::TextureReadback::Output::Nv12 ? FfmpegInputFormat::Nv12 : m_Declared;
    View.BytesCopied = Readback.BytesRead();
    switch (m_Output)
    {
    case D3D11::TextureReadback::Output::InPlace: View.Path = FfmpegFramePath::InPlace; return S_OK;
    case D3D11::TextureReadback::Output::Nv12: View.Path = FfmpegFramePath::ReadbackNv12; break;
    case D3D11::TextureReadback::Output::Native:
        View.Path =
            m_Declared == FfmpegInputFormat::Nv12 ? FfmpegFramePath::ReadbackNv12 : FfmpegFramePath::ReadbackBgra;
        break;
    }
    // The pixels are safe: the sample may go back to its pool now.
    m_Texture.Reset();
    m_Buffer.Reset();
    m_Sample.Reset();
    return S_OK;
}

HRESULT SampleFrame::LockMemory(FfmpegFrameView& View)
{
    // A buffer in memory: rows of the frame's width, planes one after another.
    BYTE* Data = nullptr;
    const HRESULT Result = m_Buffer->Lock(&Data, nullptr, nullptr);
    if (FAILED(Result))
        return Result;
    m_Locked = true;
    const int Pitch = static_cast<int>(m_Declared == FfmpegInputFormat::B8G8R8A8 ? m_Width * 4 : m_Width);
    View.Planes[0] = Data;
    View.Pitches[0] = Pitch;
    if (m_Declared == FfmpegInputFormat::Nv12)
    {
        View.Planes[1] = Data + static_cast<size_t>(Pitch) * m_Height;
        View.Pitches[1] = Pitch;
    }
    View.Format = m_Declared;
    return S_OK;
}

void SampleFrame::Release()
{
    if (m_Locked)
        m_Buffer->Unlock();
    if (m_Started)
    {
        // A copy still on its way must land before its buffer is reused.
        if (!m_Finished)
            m_Started->Finish();
        if (m_Started != &m_InPlace)
            m_Ring.Give(m_Started);
    }
    delete this;
}

} // namespace Platform

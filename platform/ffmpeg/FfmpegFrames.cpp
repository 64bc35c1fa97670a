#include "Ffmpeg/FfmpegFrames.h"

#include <cassert>
#include <cstdlib>

namespace Platform {

using Kind = FfmpegError::Kind;

FfmpegError FfmpegHostFrame::Lock(FfmpegFrameView& View)
{
    for (int Plane = 0; Plane < 2; ++Plane)
    {
        View.Planes[Plane] = Planes[Plane];
        View.Pitches[Plane] = Pitches[Plane];
    }
    return {};
}

void FfmpegHostFrame::Release() { m_Pool->Return(this); }

FfmpegFramePool::~FfmpegFramePool() { assert(m_Free.size() == m_Frames.size()); }

FfmpegError FfmpegFramePool::Initialize(FfmpegInputFormat Format, uint32_t Width, uint32_t Height, size_t FrameCount)
{
    std::lock_guard Guard(m_Lock);
    if (!m_Frames.empty())
        return Kind::InvalidRequest;
    const bool Nv12 = Format == FfmpegInputFormat::Nv12;
    if (Width == 0 || Height == 0 || Width > 16384 || Height > 16384 || FrameCount == 0 ||
        (Nv12 && (Width % 2 || Height % 2)))
        return Kind::InvalidArgument;

    constexpr size_t Alignment = 64;
    const size_t Pitch = ((Nv12 ? Width : Width * 4) + Alignment - 1) / Alignment * Alignment;
    const size_t LumaSize = Pitch * Height;
    const size_t Size = Nv12 ? LumaSize + Pitch * (Height / 2) : LumaSize;
    for (size_t Index = 0; Index < FrameCount; ++Index)
    {
        auto Frame = std::make_unique<FfmpegHostFrame>();
        Frame->m_Memory = {static_cast<uint8_t*>(std::aligned_alloc(Alignment, Size)), std::free};
        if (!Frame->m_Memory)
        {
            m_Frames.clear();
            return Kind::OutOfMemory;
        }
        Frame->m_Pool = this;
        Frame->Planes[0] = Frame->m_Memory.get();
        Frame->Pitches[0] = static_cast<int>(Pitch);
        if (Nv12)
        {
            Frame->Planes[1] = Frame->m_Memory.get() + LumaSize;
            Frame->Pitches[1] = static_cast<int>(Pitch);
        }
        m_Frames.push_back(std::move(Frame));
    }
    for (auto& Frame : m_Frames)
        m_Free.push_back(Frame.get());
    return {};
}

FfmpegHostFrame* FfmpegFramePool::Acquire()
{
    std::unique_lock Guard(m_Lock);
    if (m_Frames.empty())
        return nullptr;
    m_Returned.wait(Guard, [this] { return !m_Free.empty(); });
    FfmpegHostFrame* Frame = m_Free.back();
    m_Free.pop_back();
    return Frame;
}

FfmpegHostFrame* FfmpegFramePool::TryAcquire()
{
    std::lock_guard Guard(m_Lock);
    if (m_Free.empty())
        return nullptr;
    FfmpegHostFrame* Frame = m_Free.back();
    m_Free.pop_back();
    return Frame;
}

size_t FfmpegFramePool::FreeCount() const
{
    std::lock_guard Guard(m_Lock);
    return m_Free.size();
}

void FfmpegFramePool::Return(FfmpegHostFrame* Frame)
{
    {
        std::lock_guard Guard(m_Lock);
        m_Free.push_back(Frame);
    }
    m_Returned.notify_one();
}

} // namespace Platform

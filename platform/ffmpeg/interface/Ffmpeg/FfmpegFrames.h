// Host-memory video frames handed to the FFmpeg writer, and a fixed pool of
// recycled ones.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "FfmpegError.h"

namespace Platform {

// Pixel layouts the writer takes in.
enum class FfmpegInputFormat
{
    B8G8R8A8, // one plane, 4 bytes a pixel: B, G, R, A
    Nv12,     // a plane of Y, then a plane of interleaved U and V at half height
};

// A frame in the device memory of the writer's CUDA context (FfmpegCudaFrames),
// NV12 with the chroma plane right after the luma plane, at Pitch x height.
struct FfmpegDeviceFrame
{
    uint64_t Address = 0; // a CUdeviceptr; 0: the frame is in host memory
    int Pitch = 0;
    // Called exactly once, on any thread, when the encoder no longer reads
    // the memory (the frame's buffer reference is gone).
    void (*Done)(void* Context) = nullptr;
    void* Context = nullptr;
};

// How a frame's pixels reached the writer.
enum class FfmpegFramePath
{
    InPlace,      // read where the frame was drawn or written (host memory)
    Cuda,         // handed to the encoder in device memory
    ReadbackNv12, // converted on the device, the NV12 planes copied to the host
    ReadbackBgra, // the texture copied to the host as it is
};

// Where the pixels of one frame lie, plane by plane (the second plane only for NV12).
struct FfmpegFrameView
{
    const uint8_t* Planes[2] = {};
    int Pitches[2] = {};
    // The layout of the planes when it differs from the stream's input
    // format (a source that could not deliver that format for this frame).
    std::optional<FfmpegInputFormat> Format;
    // Instead of Planes: the frame in device memory, handed over with the view.
    FfmpegDeviceFrame Device;
    FfmpegFramePath Path = FfmpegFramePath::InPlace;
    // The bytes that the source copied to bring the pixels here: from device
    // memory to the host, or within host memory.
    uint64_t BytesCopied = 0;
};

// One frame given to the writer. The writer's worker thread calls Lock when
// it is ready for the pixels (it may wait there, for a device read-back for
// example), converts them, and calls Release once they are no longer needed;
// Release comes exactly once for every frame handed to Write, also when the
// frame is dropped after a failure. Neither call comes on the writing thread
// except from Write itself when it refuses the frame. A source that fails
// answers FrameSource with a code of its own, which the writer passes back
// from Write or Finalize as it came.
class FfmpegFrameSource
{
public:
    virtual FfmpegError Lock(FfmpegFrameView& View) = 0;
    virtual void Release() = 0;

protected:
    ~FfmpegFrameSource() = default;
};

class FfmpegFramePool;

// A frame in host memory that belongs to a pool: fill Planes, hand it to
// the writer, and it comes back to the pool once its pixels are converted.
class FfmpegHostFrame final : public FfmpegFrameSource
{
public:
    uint8_t* Planes[2] = {};
    int Pitches[2] = {};

    FfmpegError Lock(FfmpegFrameView& View) override;
    void Release() override;

private:
    friend class FfmpegFramePool;
    FfmpegFramePool* m_Pool = nullptr;
    std::unique_ptr<uint8_t[], void (*)(void*)> m_Memory{nullptr, nullptr};
};

// A fixed number of host frames of one size and format, allocated once.
// Acquire waits while every frame is out; this is the back-pressure of a
// writer that falls behind.
class FfmpegFramePool
{
public:
    FfmpegFramePool() = default;
    FfmpegFramePool(const FfmpegFramePool&) = delete;
    FfmpegFramePool& operator=(const FfmpegFramePool&) = delete;
    // Every frame must be back before the pool goes.
    ~FfmpegFramePool();

    // Rows are padded to 64 bytes. Fails with InvalidArgument for an empty
    // size, an odd NV12 size or no frames.
    FfmpegError Initialize(FfmpegInputFormat Format, uint32_t Width, uint32_t Height, size_t FrameCount);

    FfmpegHostFrame* Acquire();    // waits for a free frame
    FfmpegHostFrame* TryAcquire(); // nullptr when none is free
    size_t FreeCount() const;

private:
    friend class FfmpegHostFrame;
    void Return(FfmpegHostFrame* Frame);

    mutable std::mutex m_Lock;
    std::condition_variable m_Returned;
    std::vector<std::unique_ptr<FfmpegHostFrame>> m_Frames;
    std::vector<FfmpegHostFrame*> m_Free;
};

} // namespace Platform

// Frames that reach the writer in device memory: the encoder reads them where
// they lie, and each one's buffer reference gives its memory back once the
// encoder is done with it. Here the "device" memory is host memory (as a
// stand-in CUDA driver hands it out) and libx264 reads it; the hand-over is
// the one that h264_nvenc gets.

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FfmpegErrorPrinting.h"
#include "Ffmpeg/FfmpegVideoWriter.h"

namespace {

using namespace Platform;

constexpr int Width = 320, Height = 180, Pitch = 512;
constexpr size_t SlotCount = 4;
constexpr uint8_t PoisonLuma = 250;

// Frames of the ring in "device" memory: taken by the writing thread,
// given back by the encoder's buffer reference, poisoned on their way back
// so that a late read shows in the video.
class Ring
{
public:
    Ring() : m_Memory(SlotCount * Pitch * Height * 3 / 2), m_Returns(SlotCount, 0)
    {
        for (size_t Slot = 0; Slot < SlotCount; ++Slot)
            m_Free.push_back(Slot);
    }

    size_t Take()
    {
        std::unique_lock Guard(m_Lock);
        m_Returned.wait(Guard, [this] { return !m_Free.empty(); });
        const size_t Slot = m_Free.back();
        m_Free.pop_back();
        return Slot;
    }
    void Give(size_t Slot)
    {
        std::memset(Address(Slot), PoisonLuma, Pitch * Height * 3 / 2);
        {
            std::lock_guard Guard(m_Lock);
            ++m_Returns[Slot];
            m_Free.push_back(Slot);
        }
        m_Returned.notify_one();
    }
    uint8_t* Address(size_t Slot) { return m_Memory.data() + Slot * Pitch * Height * 3 / 2; }
    size_t FreeCount()
    {
        std::lock_guard Guard(m_Lock);
        return m_Free.size();
    }
    int Returns()
    {
        std::lock_guard Guard(m_Lock);
        int Total = 0;
        for (int Count : m_Returns)
            Total += Count;
        return Total;
    }

private:
    std::mutex m_Lock;
    std::condition_variable m_Returned;
    std::vector<uint8_t> m_Memory;
    std::vector<size_t> m_Free;
    std::vector<int> m_Returns;
};

struct Handed
{
    Ring* m_Ring;
    size_t m_Slot;
};

// One frame of the ring: Lock hands its memory over with the view; a frame
// dropped unread gives it back itself.
class DeviceSource final : public FfmpegFrameSource
{
public:
    DeviceSource(Ring& Owner, size_t Slot) : m_Ring(Owner), m_Slot(Slot) {}

    FfmpegError Lock(FfmpegFrameView& View) override
    {
        m_HandedOver = true;
        View.Device.Address = reinterpret_cast<uintptr_t>(m_Ring.Address(m_Slot));
        View.Device.Pitch = Pitch;
        View.Device.Context = new Handed{&m_Ring, m_Slot};
        View.Device.Done = [](void* Context) {
            const std::unique_ptr<Handed> Frame(static_cast<Handed*>(Context));
            Frame->m_Ring->Give(Frame->m_Slot);
        };
        return Ok;
    }
    void Release() override
    {
        if (!m_HandedOver)
            m_Ring.Give(m_Slot);
        delete this;
    }

private:
    Ring& m_Ring;
    size_t m_Slot;
    bool m_HandedOver = false;
};

// Far from the poison in every frame, and a different level for each.
uint8_t LumaOf(int Frame) { return static_cast<uint8_t>(40 + Frame * 4); }

void Fill(uint8_t* Frame, int Index)
{
    for (int Row = 0; Row < Height; ++Row)
        std::memset(Frame + Row * Pitch, LumaOf(Index), Width);
    for (int Row = 0; Row < Height / 2; ++Row)
        for (int Column = 0; Column < Width / 2; ++Column)
        {
            Frame[(Height + Row) * Pitch + 2 * Column] = 100;
            Frame[(Height + Row) * Pitch + 2 * Column + 1] = 150;
        }
}

FfmpegVideoSettings Settings(bool DeviceFrames)
{
    FfmpegVideoSettings Result;
    Result.Width = Width;
    Result.Height = Height;
    Result.FrameRateN = 30;
    Result.FrameRateD = 1;
    Result.AverageBitrate = 2'000'000;
    Result.InputFormat = FfmpegInputFormat::Nv12;
    if (DeviceFrames)
        Result.CudaFrames = FfmpegCudaFrames{nullptr, nullptr, true};
    return Result;
}

std::string Folder()
{
    char Template[] = "/tmp/ostrel-device-frames-XXXXXX";
    return mkdtemp(Template) ? Template : "";
}

// The decoded luma planes, frame after frame, as coded (limited range).
std::vector<uint8_t> DecodedLuma(const std::string& File)
{
    const std::string Raw = File + ".yuv";
    const std::string Command = "ffmpeg -v error -i " + File + " -f rawvideo -pix_fmt yuv420p " + Raw + " 2>/dev/null";
    EXPECT_EQ(std::system(Command.c_str()), 0);
    std::ifstream Input(Raw, std::ios::binary);
    const std::vector<uint8_t> Planes((std::istreambuf_iterator<char>(Input)), std::istreambuf_iterator<char>());
    std::vector<uint8_t> Luma;
    const size_t LumaSize = size_t(Width) * Height, FrameSize = LumaSize * 3 / 2;
    for (size_t Start = 0; Start + FrameSize <= Planes.size(); Start += FrameSize)
        Luma.insert(Luma.end(), Planes.begin() + Start, Planes.begin() + Start + LumaSize);
    return Luma;
}

} // namespace

TEST(FfmpegDeviceFramesConcurrency, EverySlotComesBackOnceAndNoFrameHoldsThePoison)
{
    const std::string Here = Folder();
    const std::string File = Here + "/device.mp4";
    Ring Slots;
    constexpr int FrameCount = 40;
    {
        FfmpegVideoWriter Writer;
        ASSERT_EQ(Writer.Open(File), Ok);
        ASSERT_EQ(Writer.SetVideoStream(Settings(true)), Ok);
        ASSERT_EQ(Writer.BeginWriting(), Ok);
        ASSERT_TRUE(Writer.TakesDeviceFrames());
        for (int Index = 0; Index < FrameCount; ++Index)
        {
            const size_t Slot = Slots.Take();
            Fill(Slots.Address(Slot), Index);
            ASSERT_EQ(Writer.Write(new DeviceSource(Slots, Slot), Index * 333'333LL, 333'333), Ok);
        }
        ASSERT_EQ(Writer.Finalize(), Ok);
    }
    EXPECT_EQ(Slots.Returns(), FrameCount);
    EXPECT_EQ(Slots.FreeCount(), SlotCount);

    const std::vector<uint8_t> Luma = DecodedLuma(File);
    ASSERT_EQ(Luma.size(), size_t(FrameCount) * Width * Height);
    for (int Index = 0; Index < FrameCount; ++Index)
    {
        long Sum = 0;
        int Poisoned = 0;
        for (size_t Pixel = 0; Pixel < size_t(Width) * Height; ++Pixel)
        {
            const uint8_t Value = Luma[size_t(Index) * Width * Height + Pixel];
            Sum += Value;
            Poisoned += Value > LumaOf(Index) + 40;
        }
        EXPECT_EQ(Poisoned, 0) << "frame " << Index;
        EXPECT_NEAR(double(Sum) / (Width * Height), LumaOf(Index), 3.0) << "frame " << Index;
    }
    std::filesystem::remove_all(Here);
}

TEST(FfmpegDeviceFrames, AnEncoderOnHostFramesRefusesThemAndGivesThemBack)
{
    const std::string Here = Folder();
    Ring Slots;
    FfmpegVideoWriter Writer;
    ASSERT_EQ(Writer.Open(Here + "/host.mp4"), Ok);
    ASSERT_EQ(Writer.SetVideoStream(Settings(false)), Ok);
    ASSERT_EQ(Writer.BeginWriting(), Ok);
    EXPECT_FALSE(Writer.TakesDeviceFrames());
    const size_t Slot = Slots.Take();
    Fill(Slots.Address(Slot), 0);
    ASSERT_EQ(Writer.Write(new DeviceSource(Slots, Slot), 0, 333'333), Ok);
    EXPECT_EQ(Writer.Finalize(), Kind::InternalError);
    EXPECT_EQ(Slots.Returns(), 1);
    std::filesystem::remove_all(Here);
}

TEST(FfmpegDeviceFrames, CudaFramesWithoutTheDriverFallBackToHostFrames)
{
    const std::string Here = Folder();
    FfmpegVideoSettings Video = Settings(false);
    Video.CudaFrames = FfmpegCudaFrames{};
    FfmpegVideoWriter Writer;
    ASSERT_EQ(Writer.Open(Here + "/fallback.mp4"), Ok);
    ASSERT_EQ(Writer.SetVideoStream(Video), Ok);
    ASSERT_EQ(Writer.BeginWriting(), Ok);
    EXPECT_FALSE(Writer.TakesDeviceFrames());
    EXPECT_NE(Writer.DeviceFramesRefusal(), "");
    EXPECT_EQ(Writer.EncoderName(), "libx264");
    std::filesystem::remove_all(Here);
}

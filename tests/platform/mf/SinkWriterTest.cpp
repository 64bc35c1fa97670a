// The sink writer on textures of the software adapter: both ways to 4:2:0
// (converted on the device, or read back and converted on the host) make the
// same video.

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include <mfapi.h>
#include <mfreadwrite.h>

#include "support/CudaStandIn.h"
#include "support/DebugOutputCapture.h"
#include "support/Graphics.h"
#include "support/SingleCpu.h"

#include "D3D11/FrameExport.h"
#include <ostrel/sinkwriter.h>

namespace {

using Graphics::ComPtr;

constexpr UINT FrameCount = 8;

struct Size
{
    UINT Width = 320;
    UINT Height = 180;
};

// A picture with smooth gradients, hard edges and fine detail that moves
// from frame to frame.
std::vector<uint8_t> Picture(int Frame, Size Size)
{
    const auto [Width, Height] = Size;
    std::vector<uint8_t> Pixels(size_t(Width) * Height * 4);
    for (UINT Y = 0; Y < Height; ++Y)
        for (UINT X = 0; X < Width; ++X)
        {
            uint8_t* Pixel = &Pixels[(size_t(Y) * Width + X) * 4];
            const double Wave = std::sin((X + 3.0 * Frame) * 0.07) * std::cos(Y * 0.05);
            Pixel[0] = uint8_t(127 + 120 * Wave);                         // B
            Pixel[1] = uint8_t(((X + Frame) / 9 + Y / 7) % 2 ? 200 : 40); // G
            Pixel[2] = uint8_t((X * 255 / Width + Y) % 256);              // R
            Pixel[3] = 255;
        }
    return Pixels;
}

ComPtr<IMFSample> TextureSample(int Frame, Size Size)
{
    const auto [Width, Height] = Size;
    const ComPtr<ID3D11Texture2D> Texture =
        Graphics::BgraTexture(Graphics::Shared().m_Device.Get(), Picture(Frame, Size), Width, Height);
    ComPtr<IMFMediaBuffer> Buffer;
    EXPECT_EQ(MFCreateDXGISurfaceBuffer(__uuidof(ID3D11Texture2D), Texture.Get(), 0, FALSE, Buffer.GetAddressOf()),
              S_OK);
    ComPtr<IMFSample> Sample;
    EXPECT_EQ(MFCreateSample(Sample.GetAddressOf()), S_OK);
    EXPECT_EQ(Sample->AddBuffer(Buffer.Get()), S_OK);
    EXPECT_EQ(Sample->SetSampleTime(Frame * 333333LL), S_OK);
    EXPECT_EQ(Sample->SetSampleDuration(333333), S_OK);
    return Sample;
}

ComPtr<IMFMediaType> VideoType(const GUID& Subtype, Size Size = {})
{
    const auto [Width, Height] = Size;
    ComPtr<IMFMediaType> Type;
    EXPECT_EQ(MFCreateMediaType(Type.GetAddressOf()), S_OK);
    Type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
    Type->SetGUID(MF_MT_SUBTYPE, Subtype);
    MFSetAttributeSize(Type.Get(), MF_MT_FRAME_SIZE, Width, Height);
    MFSetAttributeRatio(Type.Get(), MF_MT_FRAME_RATE, 30, 1);
    // Plenty of bits: what the two ways differ in is not drowned in coding noise.
    Type->SetUINT32(MF_MT_AVG_BITRATE, 20'000'000);
    return Type;
}

// Writes the frames; with Timings, also asks the writer for its figures (and
// its statistics into Counts) and gives the seconds from BeginWriting to
// Finalize in WallTime.
void Write(const std::string& Path, SinkWriterConversion Conversion, ComPtr<IMFAttributes>* Timings = nullptr,
           double* WallTime = nullptr, Size Size = {}, MF_SINK_WRITER_STATISTICS* Counts = nullptr,
           bool MeasureQuality = false)
{
    UINT Token = 0;
    ComPtr<IMFDXGIDeviceManager> Manager;
    ASSERT_EQ(MFCreateDXGIDeviceManager(&Token, Manager.GetAddressOf()), S_OK);
    ASSERT_EQ(Manager->ResetDevice(Graphics::Shared().m_Device.Get(), Token), S_OK);
    ComPtr<IMFAttributes> Attributes;
    ASSERT_EQ(MFCreateAttributes(Attributes.GetAddressOf(), 2), S_OK);
    Attributes->SetUnknown(MF_SINK_WRITER_D3D_MANAGER, Manager.Get());
    Attributes->SetUINT32(OSTREL_SINK_WRITER_CONVERSION, Conversion);
    if (MeasureQuality)
        Attributes->SetUINT32(OSTREL_SINK_WRITER_MEASURE_QUALITY, 1);
    const std::wstring WidePath(Path.begin(), Path.end());
    ComPtr<IMFSinkWriter> Writer;
    ASSERT_EQ(MFCreateSinkWriterFromURL(WidePath.c_str(), nullptr, Attributes.Get(), Writer.GetAddressOf()), S_OK);
    DWORD Stream = 0;
    ASSERT_EQ(Writer->AddStream(VideoType(MFVideoFormat_H264, Size).Get(), &Stream), S_OK);
    ASSERT_EQ(Writer->SetInputMediaType(Stream, VideoType(MFVideoFormat_ARGB32, Size).Get(), nullptr), S_OK);
    const auto Start = std::chrono::steady_clock::now();
    {
        // The writer's worker, which BeginWriting starts, starts the encoder:
        // on one CPU, the same frames always make the same video.
        const SingleCpu Pinned;
        ASSERT_EQ(Writer->BeginWriting(), S_OK);
    }
    for (UINT Frame = 0; Frame < FrameCount; ++Frame)
        ASSERT_EQ(Writer->WriteSample(Stream, TextureSample(Frame, Size).Get()), S_OK);
    ASSERT_EQ(Writer->Finalize(), S_OK);
    if (WallTime)
        *WallTime = std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
    if (Counts)
    {
        EXPECT_EQ(Writer->GetStatistics(Stream, Counts), S_OK);
    }
    if (!Timings)
        return;
    ComPtr<IMFAttributes> Unknown;
    EXPECT_EQ(Writer->GetServiceForStream(Stream, MF_SINK_WRITER_D3D_MANAGER, IID_PPV_ARGS(&Unknown)),
              MF_E_UNSUPPORTED_SERVICE);
    EXPECT_EQ(Writer->GetServiceForStream(Stream + 1, OSTREL_SINK_WRITER_TIMINGS, IID_PPV_ARGS(&Unknown)),
              MF_E_INVALIDSTREAMNUMBER);
    EXPECT_EQ(Writer->GetServiceForStream(Stream, OSTREL_SINK_WRITER_TIMINGS, IID_PPV_ARGS(Timings->GetAddressOf())),
              S_OK);
}

// The decoded frames, 4:2:0 planes one frame after another.
std::vector<uint8_t> Decoded(const std::string& Path)
{
    const std::string Raw = Path + ".yuv";
    const std::string Command = "ffmpeg -nostdin -v error -y -i " + Path + " -f rawvideo -pix_fmt yuv420p " + Raw;
    EXPECT_EQ(std::system(Command.c_str()), 0);
    std::ifstream Input(Raw, std::ios::binary);
    return {std::istreambuf_iterator<char>(Input), std::istreambuf_iterator<char>()};
}

double Psnr(const uint8_t* First, const uint8_t* Second, size_t Size)
{
    double Squared = 0;
    for (size_t Index = 0; Index < Size; ++Index)
        Squared += (double(First[Index]) - Second[Index]) * (double(First[Index]) - Second[Index]);
    return Squared == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 * Size / Squared);
}

} // namespace

TEST(SinkWriter, DeviceAndHostConversionMakeTheSameVideo)
{
    const std::filesystem::path Folder =
        std::filesystem::temp_directory_path() / ("ostrel-sink-writer-" + std::to_string(getpid()));
    std::filesystem::create_directories(Folder);
    const std::string Host = (Folder / "host.mp4").string(), Device = (Folder / "device.mp4").string();
    Write(Host, SinkWriterConversionHost);
    Write(Device, SinkWriterConversionDevice);
    const std::vector<uint8_t> HostFrames = Decoded(Host), DeviceFrames = Decoded(Device);
    const size_t FrameSize = size_t(Size().Width) * Size().Height * 3 / 2;
    ASSERT_EQ(HostFrames.size(), FrameSize * FrameCount);
    ASSERT_EQ(DeviceFrames.size(), FrameSize * FrameCount);
    for (UINT Frame = 0; Frame < FrameCount; ++Frame)
    {
        const double Between = Psnr(&HostFrames[Frame * FrameSize], &DeviceFrames[Frame * FrameSize], FrameSize);
        EXPECT_GE(Between, 48.0) << "frame " << Frame;
        // The frames move: a comparison of identical nothing proves nothing.
        if (Frame > 0)
        {
            EXPECT_LT(Psnr(&HostFrames[Frame * FrameSize], &HostFrames[(Frame - 1) * FrameSize], FrameSize), 30.0);
        }
    }
    std::filesystem::remove_all(Folder);
}

// What the timings say of the way the frames came: the path and the bytes
// copied a frame.
std::pair<std::wstring, UINT64> FramePath(IMFAttributes* Timings)
{
    wchar_t Path[32] = {};
    EXPECT_EQ(Timings->GetString(OSTREL_SINK_WRITER_FRAME_PATH, Path, 32, nullptr), S_OK);
    UINT64 Bytes = 0;
    EXPECT_EQ(Timings->GetUINT64(OSTREL_SINK_WRITER_BYTES_COPIED, &Bytes), S_OK);
    return {Path, Bytes / FrameCount};
}

// lavapipe's memory is the host's: its textures are read where they lie, and
// the video is the one that a readback of every frame makes, to the bit, at
// sizes whose rows fit no alignment too.
TEST(SinkWriter, FramesReadInPlaceMakeTheVideoThatReadbacksMake)
{
    char Folder[] = "/tmp/ostrel-in-place-XXXXXX";
    ASSERT_NE(mkdtemp(Folder), nullptr);
    for (const Size Size : {::Size{1920, 1080}, ::Size{1280, 720}, ::Size{642, 362}})
    {
        SCOPED_TRACE(testing::Message() << Size.Width << "x" << Size.Height);
        const std::string InPlace = std::string(Folder) + "/in-place.mkv", Copied = std::string(Folder) + "/copied.mkv";
        ComPtr<IMFAttributes> InPlaceTimings, CopiedTimings;
        Write(InPlace, SinkWriterConversionHost, &InPlaceTimings, nullptr, Size);
        Write(Copied, SinkWriterConversionHostReadback, &CopiedTimings, nullptr, Size);
        ASSERT_TRUE(InPlaceTimings && CopiedTimings);
        EXPECT_EQ(FramePath(InPlaceTimings.Get()), std::make_pair(std::wstring(L"in-place"), UINT64{0}));
        // Unasked, the encoder measures nothing of its error.
        double Psnr = 0;
        EXPECT_EQ(InPlaceTimings->GetDouble(OSTREL_SINK_WRITER_PSNR_Y, &Psnr), MF_E_ATTRIBUTENOTFOUND);
        EXPECT_EQ(FramePath(CopiedTimings.Get()),
                  std::make_pair(std::wstring(L"readback-bgra"), UINT64{Size.Width} * Size.Height * 4));
        const std::vector<uint8_t> InPlaceFrames = Decoded(InPlace), CopiedFrames = Decoded(Copied);
        ASSERT_EQ(InPlaceFrames.size(), size_t(Size.Width) * Size.Height * 3 / 2 * FrameCount);
        EXPECT_TRUE(InPlaceFrames == CopiedFrames);
    }
    std::filesystem::remove_all(Folder);
}

TEST(SinkWriter, BeginWritingNeedsAStreamAndItsInputType)
{
    ComPtr<IMFSinkWriter> Writer;
    ASSERT_EQ(MFCreateSinkWriterFromURL(L"/tmp/ostrel-never-written.mp4", nullptr, nullptr, Writer.GetAddressOf()),
              S_OK);
    EXPECT_EQ(Writer->BeginWriting(), MF_E_SINK_NO_STREAMS);
    DWORD Stream = 7;
    ASSERT_EQ(Writer->AddStream(VideoType(MFVideoFormat_H264).Get(), &Stream), S_OK);
    EXPECT_EQ(Stream, 0u);
    EXPECT_EQ(Writer->BeginWriting(), MF_E_INVALIDMEDIATYPE);
    EXPECT_FALSE(std::filesystem::exists("/tmp/ostrel-never-written.mp4"));
}

TEST(SinkWriter, RefusesAConversionItDoesNotKnow)
{
    ComPtr<IMFAttributes> Attributes;
    ASSERT_EQ(MFCreateAttributes(Attributes.GetAddressOf(), 1), S_OK);
    Attributes->SetUINT32(OSTREL_SINK_WRITER_CONVERSION, SinkWriterConversionHostReadback + 1);
    ComPtr<IMFSinkWriter> Writer;
    EXPECT_EQ(
        MFCreateSinkWriterFromURL(L"/tmp/ostrel-never-written.mp4", nullptr, Attributes.Get(), Writer.GetAddressOf()),
        E_INVALIDARG);
}

TEST(SinkWriter, TellsWhereItsTimeWent)
{
    char Folder[] = "/tmp/ostrel-timings-XXXXXX";
    ASSERT_NE(mkdtemp(Folder), nullptr);
    ComPtr<IMFAttributes> Timings;
    double WallTime = 0;
    MF_SINK_WRITER_STATISTICS Counts = {};
    Write(std::string(Folder) + "/timed.mp4", SinkWriterConversionHost, &Timings, &WallTime, {}, &Counts, true);
    // The stream's bytes: most of the file, never more.
    const auto FileBytes = std::filesystem::file_size(std::string(Folder) + "/timed.mp4");
    EXPECT_LE(Counts.qwByteCountProcessed, FileBytes);
    EXPECT_GT(Counts.qwByteCountProcessed, FileBytes * 9 / 10);
    std::filesystem::remove_all(Folder);
    ASSERT_TRUE(Timings);
    UINT64 Frames = 0;
    EXPECT_EQ(Timings->GetUINT64(OSTREL_SINK_WRITER_FRAMES, &Frames), S_OK);
    EXPECT_EQ(Frames, FrameCount);
    // Every stage took some time; lavapipe times its work like a GPU.
    UINT64 Worker = 0;
    for (const GUID& Key :
         {OSTREL_SINK_WRITER_DEVICE_TIME, OSTREL_SINK_WRITER_READBACK_TIME, OSTREL_SINK_WRITER_CONVERT_TIME,
          OSTREL_SINK_WRITER_ENCODE_TIME, OSTREL_SINK_WRITER_MUX_TIME})
    {
        UINT64 Time = 0;
        EXPECT_EQ(Timings->GetUINT64(Key, &Time), S_OK);
        EXPECT_GT(Time, 0u);
        if (Key != OSTREL_SINK_WRITER_DEVICE_TIME)
            Worker += Time;
    }
    // The worker's stages, in 100-ns units, fill much of the writing (frames
    // come faster than it takes them) and never more than all of it.
    EXPECT_GT(Worker / 1e7, 0.1 * WallTime);
    EXPECT_LE(Worker / 1e7, WallTime);
    wchar_t Encoder[64] = {};
    EXPECT_EQ(Timings->GetString(OSTREL_SINK_WRITER_ENCODER, Encoder, 64, nullptr), S_OK);
    EXPECT_STREQ(Encoder, L"libx264 superfast");
    // A latency for each frame, within the writing.
    UINT32 Size = 0;
    EXPECT_EQ(Timings->GetBlobSize(OSTREL_SINK_WRITER_LATENCIES, &Size), S_OK);
    std::vector<UINT64> Latencies(Size / sizeof(UINT64));
    EXPECT_EQ(Timings->GetBlob(OSTREL_SINK_WRITER_LATENCIES, reinterpret_cast<UINT8*>(Latencies.data()), Size, nullptr),
              S_OK);
    EXPECT_EQ(Latencies.size(), FrameCount);
    for (UINT64 Latency : Latencies)
    {
        EXPECT_GT(Latency, 0u);
        EXPECT_LE(Latency / 1e7, WallTime);
    }
    // libx264 measures its error: the luma's PSNR and the planes' together.
    double PsnrY = 0, PsnrAverage = 0;
    EXPECT_EQ(Timings->GetDouble(OSTREL_SINK_WRITER_PSNR_Y, &PsnrY), S_OK);
    EXPECT_EQ(Timings->GetDouble(OSTREL_SINK_WRITER_PSNR_AVERAGE, &PsnrAverage), S_OK);
    EXPECT_GT(PsnrY, 25.0);
    EXPECT_LT(PsnrY, 100.0);
    EXPECT_GT(PsnrAverage, 25.0);
    EXPECT_LT(PsnrAverage, 100.0);
}

namespace {

std::array<uint8_t, 16> SharedDeviceUuid()
{
    std::unique_ptr<Platform::D3D11::FrameExport> Export;
    EXPECT_EQ(Platform::D3D11::FrameExport::Create(Graphics::Shared().m_Device.Get(), 2, 2, 4, 1, Export), S_OK);
    return Export ? Export->DeviceUuid() : std::array<uint8_t, 16>{};
}

// The lines of the debugger output channel that tell of the CUDA path.
size_t CudaLines(const DebugOutputCapture& Capture)
{
    size_t Count = 0;
    for (const std::wstring& Line : Capture.Lines())
        Count += Line.find(L"CUDA") != std::wstring::npos;
    return Count;
}

} // namespace

// Frames through CUDA (the stand-in: the device's exported memory read on
// the host) reach the encoder as the readback path's bytes: the same video. The
// ring's slots go from the writing thread to the encoder's and back.
TEST(SinkWriterConcurrency, ThroughCudaTheVideoIsTheReadbackPathsVideo)
{
    const std::filesystem::path Folder =
        std::filesystem::temp_directory_path() / ("ostrel-sink-writer-cuda-" + std::to_string(getpid()));
    std::filesystem::create_directories(Folder);
    const std::string Readback = (Folder / "readback.mp4").string(), Cuda = (Folder / "cuda.mp4").string();
    DebugOutputCapture Capture;
    Write(Readback, SinkWriterConversionDevice);
    // The software adapter never tries CUDA by itself.
    EXPECT_EQ(CudaLines(Capture), 0u);
    {
        CudaStandIn::Scope StandIn(SharedDeviceUuid());
        ComPtr<IMFAttributes> Timings;
        Write(Cuda, SinkWriterConversionDevice, &Timings);
        EXPECT_EQ(CudaStandIn::Shared().m_MemoryImports, 6);
        // The writer says how the frames came, and that nothing was copied.
        wchar_t Path[32] = {};
        ASSERT_TRUE(Timings);
        EXPECT_EQ(Timings->GetString(OSTREL_SINK_WRITER_FRAME_PATH, Path, 32, nullptr), S_OK);
        EXPECT_STREQ(Path, L"cuda");
        UINT64 Copied = 1;
        EXPECT_EQ(Timings->GetUINT64(OSTREL_SINK_WRITER_BYTES_COPIED, &Copied), S_OK);
        EXPECT_EQ(Copied, 0u);
        // The stand-in takes no semaphore: the worker waited on the host.
        EXPECT_TRUE(CudaStandIn::Shared().m_Waits.empty());
    }
    EXPECT_EQ(CudaLines(Capture), 0u);
    const std::vector<uint8_t> ReadbackFrames = Decoded(Readback), CudaFrames = Decoded(Cuda);
    ASSERT_EQ(ReadbackFrames.size(), size_t(Size{}.Width) * Size{}.Height * 3 / 2 * FrameCount);
    EXPECT_TRUE(CudaFrames == ReadbackFrames);
    std::filesystem::remove_all(Folder);
}

// An import that fails before the first frame leaves the writer on the
// readback path, with one line that says why, and the run completes.
TEST(SinkWriter, AFailedImportFallsBackToTheReadbackPath)
{
    const std::filesystem::path Folder =
        std::filesystem::temp_directory_path() / ("ostrel-sink-writer-fallback-" + std::to_string(getpid()));
    std::filesystem::create_directories(Folder);
    const std::string Path = (Folder / "fallback.mp4").string();
    DebugOutputCapture Capture;
    {
        CudaStandIn::Scope StandIn(SharedDeviceUuid(), Platform::Cuda::CUDA_ERROR_NOT_SUPPORTED);
        Write(Path, SinkWriterConversionDevice);
    }
    ASSERT_EQ(CudaLines(Capture), 1u);
    for (const std::wstring& Line : Capture.Lines())
    {
        const bool Cuda = Line.find(L"CUDA") != std::wstring::npos;
        EXPECT_TRUE(!Cuda || Line.find(L"cuImportExternalMemory") != std::wstring::npos);
    }
    EXPECT_EQ(Decoded(Path).size(), size_t(Size{}.Width) * Size{}.Height * 3 / 2 * FrameCount);
    std::filesystem::remove_all(Folder);
}

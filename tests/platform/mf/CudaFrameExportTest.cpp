// Frames exported from the device and imported into CUDA: the NV12 bytes
// that CUDA sees in each frame of the ring are, byte for byte, those of the
// readback path. Here CUDA is the stand-in (the memory is host memory, as
// the software adapter exports it); on a machine with an NVIDIA GPU and its
// driver, FrameExportOnCuda runs the same comparison against real CUDA.

#include <algorithm>
#include <array>
#include <cstring>
#include <dirent.h>
#include <dlfcn.h>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include <d3d11.h>

#include "support/CudaStandIn.h"
#include "support/Graphics.h"

#include "Cuda/Session.h"
#include "D3D11/FrameExport.h"
#include "D3D11/Readback.h"

namespace {

using Graphics::ComPtr;
using Platform::Cuda::CUdeviceptr;
using Platform::D3D11::FrameExport;
using Platform::D3D11::TextureReadback;

constexpr size_t RingSize = 4;

uint32_t CudaPitch(uint32_t Width) { return (Width + 255) / 256 * 256; }

// Noise and gradients, different for each frame, so that a frame written
// into the wrong slot or not at all shows.
std::vector<uint8_t> Picture(uint32_t Width, uint32_t Height, uint32_t Frame)
{
    std::vector<uint8_t> Pixels(size_t(Width) * Height * 4);
    uint32_t Seed = 7 + Frame;
    for (uint32_t Y = 0; Y < Height; ++Y)
        for (uint32_t X = 0; X < Width; ++X)
        {
            uint8_t* Pixel = &Pixels[(size_t(Y) * Width + X) * 4];
            Seed = Seed * 1664525 + 1013904223;
            Pixel[0] = X % 64 < 8 ? uint8_t(Seed >> 24) : uint8_t(X * 255 / Width + Frame * 40);
            Pixel[1] = uint8_t(Y * 255 / Height);
            Pixel[2] = uint8_t((X + Y + Frame * 13) % 256);
            Pixel[3] = 255;
        }
    return Pixels;
}

// The planes as the readback path brings them, rows packed: luma, then the
// interleaved chroma.
std::vector<uint8_t> ReadBackNv12(ID3D11Texture2D* Texture, uint32_t Width, uint32_t Height)
{
    TextureReadback Readback;
    EXPECT_EQ(Readback.Read(Texture, TextureReadback::Output::Nv12), S_OK);
    std::vector<uint8_t> Packed;
    if (Readback.Layout().size() != 2)
        return Packed;
    for (uint32_t Plane = 0; Plane < 2; ++Plane)
    {
        const auto& Layout = Readback.Layout()[Plane];
        for (uint32_t Row = 0; Row < (Plane ? Height / 2 : Height); ++Row)
        {
            const uint8_t* Start = Readback.Data() + Layout.m_Offset + uint64_t(Row) * Layout.m_RowPitch;
            Packed.insert(Packed.end(), Start, Start + Width);
        }
    }
    return Packed;
}

// The same from a frame of the ring, as Copy brings it from the CUDA address.
template <typename CopyFunction>
std::vector<uint8_t> ReadExported(CopyFunction Copy, const Platform::Cuda::Session& Session, CUdeviceptr Address,
                                  uint32_t Pitch, uint32_t Width, uint32_t Height)
{
    std::vector<uint8_t> Frame(size_t(Pitch) * Height * 3 / 2);
    Copy(Session, Frame.data(), Address, Frame.size());
    std::vector<uint8_t> Packed;
    for (uint32_t Row = 0; Row < Height * 3 / 2; ++Row)
        Packed.insert(Packed.end(), Frame.begin() + size_t(Row) * Pitch, Frame.begin() + size_t(Row) * Pitch + Width);
    return Packed;
}

size_t OpenDescriptors()
{
    size_t Count = 0;
    if (DIR* Folder = opendir("/proc/self/fd"))
    {
        while (readdir(Folder))
            ++Count;
        closedir(Folder);
    }
    return Count;
}

// Imports every frame of Export into Session; the addresses by frame.
std::vector<CUdeviceptr> ImportRing(FrameExport& Export, Platform::Cuda::Session& Session)
{
    std::vector<CUdeviceptr> Addresses;
    for (size_t Index = 0; Index < Export.Count(); ++Index)
    {
        Platform::D3D11::ExportedMemory Memory;
        EXPECT_EQ(Export.ExportMemory(Index, Memory), S_OK);
        CUdeviceptr Address = 0;
        const auto Failure = Session.ImportBuffer(Memory.m_Descriptor, Memory.m_AllocationSize, Memory.m_Dedicated,
                                                  Export.FrameSize(), Address);
        EXPECT_FALSE(Failure.Failed()) << Failure.Text(&Session.Functions());
        Addresses.push_back(Address);
    }
    return Addresses;
}

// Converts two rounds of frames through the ring and compares each with the
// readback path's bytes.
template <typename CopyFunction>
void CompareRing(ID3D11Device* Device, const Platform::Cuda::Driver& Driver, CopyFunction Copy, uint32_t Width,
                 uint32_t Height)
{
    SCOPED_TRACE(testing::Message() << Width << "x" << Height);
    std::unique_ptr<FrameExport> Export;
    ASSERT_EQ(FrameExport::Create(Device, Width, Height, CudaPitch(Width), RingSize, Export), S_OK);
    std::unique_ptr<Platform::Cuda::Session> Session;
    const auto Opened = Platform::Cuda::Session::Open(Driver, Export->DeviceUuid(), Session);
    ASSERT_FALSE(Opened.Failed()) << Opened.Text(&Driver);
    const std::vector<CUdeviceptr> Addresses = ImportRing(*Export, *Session);
    for (uint32_t Frame = 0; Frame < 2 * RingSize; ++Frame)
    {
        const ComPtr<ID3D11Texture2D> Texture =
            Graphics::BgraTexture(Device, Picture(Width, Height, Frame), Width, Height);
        const size_t Slot = Frame % RingSize;
        uint64_t Value = 0;
        ASSERT_EQ(Export->Convert(Texture.Get(), Slot, Value), S_OK);
        ASSERT_EQ(Export->Wait(Value), S_OK);
        const std::vector<uint8_t> Expected = ReadBackNv12(Texture.Get(), Width, Height);
        ASSERT_EQ(Expected.size(), size_t(Width) * Height * 3 / 2);
        const std::vector<uint8_t> Seen = ReadExported(Copy, *Session, Addresses[Slot], Export->Pitch(), Width, Height);
        const auto Differs = std::mismatch(Seen.begin(), Seen.end(), Expected.begin()).first;
        EXPECT_TRUE(Differs == Seen.end())
            << "frame " << Frame << " in slot " << Slot << " differs at byte " << Differs - Seen.begin();
    }
}

std::array<uint8_t, 16> UuidOf(ID3D11Device* Device)
{
    std::unique_ptr<FrameExport> Export;
    EXPECT_EQ(FrameExport::Create(Device, 2, 2, 4, 1, Export), S_OK);
    return Export ? Export->DeviceUuid() : std::array<uint8_t, 16>{};
}

void HostCopy(const Platform::Cuda::Session&, void* Target, CUdeviceptr Source, size_t Size)
{
    std::memcpy(Target, reinterpret_cast<const void*>(Source), Size);
}

} // namespace

TEST(FrameExport, CudaSeesTheReadbackPathsBytesInEverySlot)
{
    ID3D11Device* Device = Graphics::Shared().m_Device.Get();
    CudaStandIn::Scope StandIn(UuidOf(Device));
    for (const auto& [Width, Height] : {std::pair{1920u, 1080u}, std::pair{1280u, 720u}, std::pair{642u, 362u}})
        CompareRing(Device, CudaStandIn::Functions(), HostCopy, Width, Height);
    // Each frame imported once, and all of it given back with the session.
    EXPECT_EQ(CudaStandIn::Shared().m_MemoryImports, int(3 * RingSize));
    EXPECT_EQ(CudaStandIn::Shared().m_LiveImports, 0);
    EXPECT_EQ(CudaStandIn::Shared().m_LiveContexts, 0);
}

TEST(FrameExport, RefusesWhatItCannotConvert)
{
    ID3D11Device* Device = Graphics::Shared().m_Device.Get();
    std::unique_ptr<FrameExport> Export;
    EXPECT_EQ(FrameExport::Create(Device, 63, 32, 64, 2, Export), E_INVALIDARG); // odd
    EXPECT_EQ(FrameExport::Create(Device, 64, 32, 62, 2, Export), E_INVALIDARG); // pitch below the width
    ASSERT_EQ(FrameExport::Create(Device, 64, 32, 256, 2, Export), S_OK);
    const ComPtr<ID3D11Texture2D> Other = Graphics::BgraTexture(Device, Picture(32, 32, 0), 32, 32);
    uint64_t Value = 0;
    EXPECT_EQ(Export->Convert(Other.Get(), 0, Value), E_INVALIDARG);
    const ComPtr<ID3D11Texture2D> Fitting = Graphics::BgraTexture(Device, Picture(64, 32, 0), 64, 32);
    EXPECT_EQ(Export->Convert(Fitting.Get(), 2, Value), E_INVALIDARG);
    EXPECT_EQ(Export->Convert(Fitting.Get(), 1, Value), S_OK);
    EXPECT_EQ(Export->Wait(Value), S_OK);
}

TEST(CudaSession, FindsTheDeviceByUuidAndClosesWhatItCannotImport)
{
    ID3D11Device* Device = Graphics::Shared().m_Device.Get();
    const std::array<uint8_t, 16> Uuid = UuidOf(Device);
    std::array<uint8_t, 16> Other = Uuid;
    Other[15] ^= 1;
    {
        CudaStandIn::Scope StandIn(Other);
        std::unique_ptr<Platform::Cuda::Session> Session;
        const auto Failure = Platform::Cuda::Session::Open(CudaStandIn::Functions(), Uuid, Session);
        EXPECT_EQ(Failure.m_Result, Platform::Cuda::CUDA_ERROR_NO_DEVICE);
        EXPECT_FALSE(Session);
    }
    CudaStandIn::Scope StandIn(Uuid, Platform::Cuda::CUDA_ERROR_NOT_SUPPORTED);
    std::unique_ptr<Platform::Cuda::Session> Session;
    ASSERT_FALSE(Platform::Cuda::Session::Open(CudaStandIn::Functions(), Uuid, Session).Failed());
    std::unique_ptr<FrameExport> Export;
    ASSERT_EQ(FrameExport::Create(Device, 64, 32, 256, 1, Export), S_OK);
    // A refused import leaves no descriptor behind.
    const size_t Before = OpenDescriptors();
    Platform::D3D11::ExportedMemory Memory;
    ASSERT_EQ(Export->ExportMemory(0, Memory), S_OK);
    CUdeviceptr Address = 0;
    const auto Failure = Session->ImportBuffer(Memory.m_Descriptor, Memory.m_AllocationSize, Memory.m_Dedicated,
                                               Export->FrameSize(), Address);
    EXPECT_EQ(Failure.Text(nullptr), "cuImportExternalMemory: error 801");
    EXPECT_EQ(OpenDescriptors(), Before);
    // The stream waits for the device only through an imported timeline.
    EXPECT_EQ(Session->WaitOnStream(1).m_Result, Platform::Cuda::CUDA_ERROR_NOT_INITIALIZED);
}

// The same comparison against the real driver, on a hardware adapter: run by
// scripts/device_check.sh on a machine with an NVIDIA GPU.
TEST(FrameExportOnCuda, CudaSeesTheReadbackPathsBytes)
{
    std::string Missing;
    const Platform::Cuda::Driver* Driver = Platform::Cuda::LoadDriver(Missing);
    if (!Driver || Driver->m_HostAddresses)
        GTEST_SKIP() << "no CUDA driver: " << Missing;
    using CopyFunction = int (*)(void*, CUdeviceptr, size_t);
    void* Library = dlopen("libcuda.so.1", RTLD_NOW | RTLD_LOCAL);
    const auto DeviceToHost = reinterpret_cast<CopyFunction>(Library ? dlsym(Library, "cuMemcpyDtoH_v2") : nullptr);
    ASSERT_NE(DeviceToHost, nullptr);
    ComPtr<ID3D11Device> Device;
    ComPtr<ID3D11DeviceContext> Context;
    if (FAILED(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, nullptr, 0, D3D11_SDK_VERSION,
                                 Device.GetAddressOf(), nullptr, Context.GetAddressOf())))
        GTEST_SKIP() << "no hardware adapter";
    for (const auto& [Width, Height] : {std::pair{1920u, 1080u}, std::pair{1280u, 720u}, std::pair{642u, 362u}})
        CompareRing(
            Device.Get(), *Driver,
            [&](const Platform::Cuda::Session& Session, void* Target, CUdeviceptr Source, size_t Size) {
                Platform::Cuda::CUcontext Popped = nullptr;
                ASSERT_EQ(Driver->CtxPushCurrent(Session.Context()), 0);
                EXPECT_EQ(DeviceToHost(Target, Source, Size), 0);
                Driver->CtxPopCurrent(&Popped);
            },
            Width, Height);
}

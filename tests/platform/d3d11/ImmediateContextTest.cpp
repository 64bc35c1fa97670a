// The immediate context of a device on the software adapter: copies,
// updates, clears and draws, checked on the host.

#include <array>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <d3d11.h>

#include "support/Drawing.h"
#include "support/Graphics.h"

#include "D3D11/Readback.h"
#include "d3d11/Buffer.h"

using namespace Graphics;

TEST(D3D11Context, CopiesUpdatesAndClearsReachTheHost)
{
    Graphics::Device& Shared = Graphics::Shared();
    std::vector<uint8_t> Pattern(5 * 3 * 4);
    for (size_t Index = 0; Index < Pattern.size(); ++Index)
        Pattern[Index] = uint8_t(Index * 7 + 1);

    // Initial data, then a copy between two default textures, then back.
    ComPtr<ID3D11Texture2D> Source =
        Texture(5, 3, DXGI_FORMAT_B8G8R8A8_UNORM, D3D11_USAGE_DEFAULT, 0, 0, Pattern.data(), 20);
    ComPtr<ID3D11Texture2D> Target =
        Texture(5, 3, DXGI_FORMAT_B8G8R8A8_UNORM, D3D11_USAGE_DEFAULT, D3D11_BIND_RENDER_TARGET);
    Shared.m_Context->CopyResource(Target.Get(), Source.Get());
    EXPECT_EQ(Graphics::ReadBack(Shared.m_Device.Get(), Shared.m_Context.Get(), Target.Get()), Pattern);

    // UpdateSubresource of one pixel.
    const uint8_t Pixel[4] = {9, 8, 7, 6};
    const D3D11_BOX Box = {2, 1, 0, 3, 2, 1};
    Shared.m_Context->UpdateSubresource(Target.Get(), 0, &Box, Pixel, 4, 0);
    std::vector<uint8_t> Expected = Pattern;
    std::memcpy(&Expected[(1 * 5 + 2) * 4], Pixel, 4);
    EXPECT_EQ(Graphics::ReadBack(Shared.m_Device.Get(), Shared.m_Context.Get(), Target.Get()), Expected);

    // A clear that nothing draws after still reaches the texture.
    ComPtr<ID3D11RenderTargetView> View;
    ASSERT_EQ(Shared.m_Device->CreateRenderTargetView(Target.Get(), nullptr, View.GetAddressOf()), S_OK);
    const float Clear[4] = {1.0f, 0.0f, 0.5f, 1.0f};
    Shared.m_Context->ClearRenderTargetView(View.Get(), Clear);
    const std::vector<uint8_t> Cleared =
        Graphics::ReadBack(Shared.m_Device.Get(), Shared.m_Context.Get(), Target.Get());
    ASSERT_EQ(Cleared.size(), Pattern.size());
    for (size_t Index = 0; Index < Cleared.size(); Index += 4)
    {
        EXPECT_EQ(Cleared[Index + 0], 128); // blue
        EXPECT_EQ(Cleared[Index + 1], 0);
        EXPECT_EQ(Cleared[Index + 2], 255); // red
        EXPECT_EQ(Cleared[Index + 3], 255);
    }

    // A buffer updated on the device and copied to a staging buffer.
    D3D11_BUFFER_DESC Desc = {32, D3D11_USAGE_DEFAULT, D3D11_BIND_CONSTANT_BUFFER, 0, 0, 0};
    ComPtr<ID3D11Buffer> Buffer;
    ASSERT_EQ(Shared.m_Device->CreateBuffer(&Desc, nullptr, Buffer.ReleaseAndGetAddressOf()), S_OK);
    std::vector<uint8_t> Bytes(32);
    for (size_t Index = 0; Index < Bytes.size(); ++Index)
        Bytes[Index] = uint8_t(200 - Index);
    Shared.m_Context->UpdateSubresource(Buffer.Get(), 0, nullptr, Bytes.data(), 0, 0);
    EXPECT_EQ(Graphics::ReadBuffer(Shared.m_Device.Get(), Shared.m_Context.Get(), Buffer.Get()), Bytes);

    // Map refuses what cannot be mapped.
    D3D11_MAPPED_SUBRESOURCE Mapped;
    EXPECT_EQ(Shared.m_Context->Map(Target.Get(), 0, D3D11_MAP_READ, 0, &Mapped), E_INVALIDARG);
}

TEST(D3D11Context, DynamicAndPlanarTexturesRoundTrip)
{
    Graphics::Device& Shared = Graphics::Shared();
    ComPtr<ID3D11Texture2D> Dynamic = Texture(4, 2, DXGI_FORMAT_B8G8R8A8_UNORM, D3D11_USAGE_DYNAMIC,
                                              D3D11_BIND_SHADER_RESOURCE, D3D11_CPU_ACCESS_WRITE);
    D3D11_MAPPED_SUBRESOURCE Mapped = {};
    ASSERT_EQ(Shared.m_Context->Map(Dynamic.Get(), 0, D3D11_MAP_WRITE_DISCARD, 0, &Mapped), S_OK);
    std::vector<uint8_t> Expected;
    for (UINT Y = 0; Y < 2; ++Y)
        for (UINT X = 0; X < 16; ++X)
        {
            static_cast<uint8_t*>(Mapped.pData)[Y * Mapped.RowPitch + X] = uint8_t(Y * 16 + X);
            Expected.push_back(uint8_t(Y * 16 + X));
        }
    Shared.m_Context->Unmap(Dynamic.Get(), 0);
    EXPECT_EQ(Graphics::ReadBack(Shared.m_Device.Get(), Shared.m_Context.Get(), Dynamic.Get()), Expected);

    // NV12 where the device has it: luma rows, then the chroma plane.
    HRESULT Result = S_OK;
    std::vector<uint8_t> Planes(4 * 2 + 4 * 1);
    for (size_t Index = 0; Index < Planes.size(); ++Index)
        Planes[Index] = uint8_t(Index + 16);
    ComPtr<ID3D11Texture2D> Nv12 =
        Texture(4, 2, DXGI_FORMAT_NV12, D3D11_USAGE_DEFAULT, 0, 0, Planes.data(), 4, &Result);
    if (FAILED(Result))
    {
        EXPECT_EQ(Result, E_INVALIDARG);
        GTEST_SKIP() << "the device has no NV12 images";
    }
    Platform::D3D11::TextureReadback Readback;
    ASSERT_EQ(Readback.Read(Nv12.Get()), S_OK);
    const auto& Layout = Readback.Layout();
    ASSERT_EQ(Layout.size(), 2u);
    for (UINT Y = 0; Y < 2; ++Y)
        EXPECT_EQ(0, std::memcmp(Readback.Data() + Layout[0].m_Offset + Y * Layout[0].m_RowPitch, &Planes[Y * 4], 4));
    EXPECT_EQ(0, std::memcmp(Readback.Data() + Layout[1].m_Offset, &Planes[8], 4));
}

TEST(D3D11Context, DrawsWithCullingConstantsAndAnUprightPicture)
{
    Drawing Draw(8, 6);
    // Red on the right half only, green on the top half only.
    std::vector<Vertex> Halves;
    const float Green[4] = {0, 1, 0, 1}, Red[4] = {1, 0, 0, 1};
    auto Rectangle = [&](float X0, float Y0, float X1, float Y1, const float* Color) {
        const Vertex BL = {{X0, Y0}, {Color[0], Color[1], Color[2], 1}},
                     TL = {{X0, Y1}, {Color[0], Color[1], Color[2], 1}},
                     TR = {{X1, Y1}, {Color[0], Color[1], Color[2], 1}},
                     BR = {{X1, Y0}, {Color[0], Color[1], Color[2], 1}};
        Halves.insert(Halves.end(), {BL, TL, TR, BL, TR, BR});
    };
    Rectangle(0, -1, 1, 0, Red);   // bottom right
    Rectangle(-1, 0, 0, 1, Green); // top left
    Draw.Draw(Halves, White);
    const std::vector<uint8_t> Pixels = Draw.Pixels();
    ASSERT_EQ(Pixels.size(), 8u * 6 * 4);
    auto At = [&](int X, int Y) { return &Pixels[(Y * 8 + X) * 4]; }; // row 0 at the top
    EXPECT_EQ(At(7, 5)[2], 255) << "red at the bottom right";
    EXPECT_EQ(At(0, 0)[1], 255) << "green at the top left";
    EXPECT_EQ(At(7, 0)[0], 255) << "clear blue at the top right";
    EXPECT_EQ(At(0, 5)[0], 255) << "clear blue at the bottom left";

    // The constant buffer scales the colour; unbound, it reads as zeros.
    const float Half[4] = {0.5f, 0.5f, 0.5f, 1.0f};
    Draw.Draw(Quad(1, 1, 1), Half);
    EXPECT_NEAR(Draw.Pixels()[0], 128, 1);
    Draw.Draw(Quad(1, 1, 1), Half, false);
    EXPECT_EQ(Draw.Pixels()[3], 0) << "alpha from a zero tint";

    // Counter-clockwise triangles are back faces: nothing is drawn.
    std::vector<Vertex> Back = Quad(1, 1, 1);
    std::swap(Back[1], Back[2]);
    std::swap(Back[4], Back[5]);
    Draw.Draw(Back, White);
    const std::vector<uint8_t> Culled = Draw.Pixels();
    for (size_t Index = 0; Index < Culled.size(); Index += 4)
    {
        ASSERT_EQ(Culled[Index], 255) << "only the clear colour";
    }
}

TEST(D3D11Context, RegionCopiesStayInsideBothTextures)
{
    Graphics::Device& Shared = Graphics::Shared();
    std::vector<uint8_t> Pattern(4 * 4 * 4);
    for (size_t Index = 0; Index < Pattern.size(); ++Index)
        Pattern[Index] = uint8_t(Index);
    ComPtr<ID3D11Texture2D> Source =
        Texture(4, 4, DXGI_FORMAT_B8G8R8A8_UNORM, D3D11_USAGE_DEFAULT, 0, 0, Pattern.data(), 16);
    ComPtr<ID3D11Texture2D> Staging =
        Texture(3, 2, DXGI_FORMAT_B8G8R8A8_UNORM, D3D11_USAGE_STAGING, 0, D3D11_CPU_ACCESS_READ);
    // Pixels (1..2, 2..3) of the source land at (1, 0) of the target.
    const D3D11_BOX Box = {1, 2, 0, 3, 4, 1};
    Shared.m_Context->CopySubresourceRegion(Staging.Get(), 0, 1, 0, 0, Source.Get(), 0, &Box);
    // A box past either texture is ignored.
    const D3D11_BOX Outside = {2, 0, 0, 5, 1, 1};
    Shared.m_Context->CopySubresourceRegion(Staging.Get(), 0, 0, 1, 0, Source.Get(), 0, &Outside);
    Shared.m_Context->CopySubresourceRegion(Staging.Get(), 0, 2, 0, 0, Source.Get(), 0, &Box);
    D3D11_MAPPED_SUBRESOURCE Mapped = {};
    ASSERT_EQ(Shared.m_Context->Map(Staging.Get(), 0, D3D11_MAP_READ, 0, &Mapped), S_OK);
    const uint8_t* Rows = static_cast<const uint8_t*>(Mapped.pData);
    for (UINT Y = 0; Y < 2; ++Y)
    {
        EXPECT_EQ(0, std::memcmp(Rows + Y * Mapped.RowPitch, std::vector<uint8_t>(4).data(), 4)) << "untouched";
        EXPECT_EQ(0, std::memcmp(Rows + Y * Mapped.RowPitch + 4, &Pattern[((2 + Y) * 4 + 1) * 4], 8)) << Y;
    }
    Shared.m_Context->Unmap(Staging.Get(), 0);
}

TEST(D3D11Context, CopiesWithinAFormatFamilyKeepTheBits)
{
    Graphics::Device& Shared = Graphics::Shared();
    std::vector<uint8_t> Pattern(4 * 2 * 4);
    for (size_t Index = 0; Index < Pattern.size(); ++Index)
        Pattern[Index] = uint8_t(Index * 9 + 3);
    ComPtr<ID3D11Texture2D> Linear =
        Texture(4, 2, DXGI_FORMAT_B8G8R8A8_UNORM, D3D11_USAGE_DEFAULT, 0, 0, Pattern.data(), 16);
    ComPtr<ID3D11Texture2D> Srgb = Texture(4, 2, DXGI_FORMAT_B8G8R8A8_UNORM_SRGB, D3D11_USAGE_DEFAULT, 0);
    Shared.m_Context->CopyResource(Srgb.Get(), Linear.Get());
    EXPECT_EQ(Graphics::ReadBack(Shared.m_Device.Get(), Shared.m_Context.Get(), Srgb.Get()), Pattern);
    ComPtr<ID3D11Texture2D> Unsigned = Texture(4, 2, DXGI_FORMAT_R8G8B8A8_UINT, D3D11_USAGE_DEFAULT, 0);
    ComPtr<ID3D11Texture2D> Normalized =
        Texture(4, 2, DXGI_FORMAT_R8G8B8A8_UNORM, D3D11_USAGE_DEFAULT, 0, 0, Pattern.data(), 16);
    const D3D11_BOX Box = {1, 0, 0, 3, 2, 1};
    Shared.m_Context->CopySubresourceRegion(Unsigned.Get(), 0, 1, 0, 0, Normalized.Get(), 0, &Box);
    const std::vector<uint8_t> Copied =
        Graphics::ReadBack(Shared.m_Device.Get(), Shared.m_Context.Get(), Unsigned.Get());
    ASSERT_EQ(Copied.size(), Pattern.size());
    for (int Row = 0; Row < 2; ++Row)
        EXPECT_EQ(0, std::memcmp(&Copied[Row * 16 + 4], &Pattern[Row * 16 + 4], 8)) << Row;

    // Between families nothing happens, as the runtime does without its
    // debug layer: the target keeps its pixels.
    const std::vector<uint8_t> Before = Graphics::ReadBack(Shared.m_Device.Get(), Shared.m_Context.Get(), Srgb.Get());
    Shared.m_Context->CopyResource(Srgb.Get(), Unsigned.Get());
    EXPECT_EQ(Graphics::ReadBack(Shared.m_Device.Get(), Shared.m_Context.Get(), Srgb.Get()), Before);
}

namespace {

ComPtr<ID3D11Buffer> MakeBuffer(ID3D11Device* Device, UINT Size, D3D11_USAGE Usage, UINT Bind, UINT Cpu = 0)
{
    const D3D11_BUFFER_DESC Desc = {Size, Usage, Bind, Cpu, 0, 0};
    ComPtr<ID3D11Buffer> Buffer;
    EXPECT_EQ(Device->CreateBuffer(&Desc, nullptr, Buffer.GetAddressOf()), S_OK);
    return Buffer;
}

} // namespace

TEST(D3D11Context, ConstantBufferUpdatesTakeFreshRanges)
{
    Graphics::Device& Shared = Graphics::Shared();
    ComPtr<ID3D11Buffer> Constants =
        MakeBuffer(Shared.m_Device.Get(), 208, D3D11_USAGE_DEFAULT, D3D11_BIND_CONSTANT_BUFFER);
    // Each whole update renames the buffer: the device writes nothing, so
    // nothing waits for the device's earlier reads.
    auto* Buffer = static_cast<Platform::D3D11::Buffer*>(Constants.Get());
    std::vector<uint8_t> Bytes(208);
    Bytes[0] = 1;
    Shared.m_Context->UpdateSubresource(Constants.Get(), 0, nullptr, Bytes.data(), 0, 0);
    const VkBuffer First = Buffer->Storage().m_Buffer->Handle();
    Shared.m_Context->UpdateSubresource(Constants.Get(), 0, nullptr, Bytes.data(), 0, 0);
    EXPECT_TRUE(Buffer->Storage().m_Buffer->Handle() != First || Buffer->Storage().m_Offset != 0);
    EXPECT_NE(Buffer->Storage().m_Buffer->Mapped(), nullptr) << "renamed into host-written memory";

    // Far more updates than the ring's chunk holds.
    for (int Index = 0; Index < 20000; ++Index)
    {
        std::memcpy(Bytes.data(), &Index, sizeof Index);
        Shared.m_Context->UpdateSubresource(Constants.Get(), 0, nullptr, Bytes.data(), 0, 0);
        if (Index % 500 == 0)
            Shared.m_Context->Flush();
    }
    EXPECT_EQ(Graphics::ReadBuffer(Shared.m_Device.Get(), Shared.m_Context.Get(), Constants.Get()), Bytes);

    // A partial update keeps the rest, renamed or in the buffer's own memory.
    const uint8_t Patch[16] = {7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7};
    const D3D11_BOX Box = {32, 0, 0, 48, 1, 1};
    Shared.m_Context->UpdateSubresource(Constants.Get(), 0, &Box, Patch, 0, 0);
    std::memcpy(Bytes.data() + 32, Patch, 16);
    EXPECT_EQ(Graphics::ReadBuffer(Shared.m_Device.Get(), Shared.m_Context.Get(), Constants.Get()), Bytes);
    ComPtr<ID3D11Buffer> Vertices =
        MakeBuffer(Shared.m_Device.Get(), 64, D3D11_USAGE_DEFAULT, D3D11_BIND_VERTEX_BUFFER);
    const D3D11_BOX Middle = {16, 0, 0, 32, 1, 1};
    Shared.m_Context->UpdateSubresource(Vertices.Get(), 0, &Middle, Patch, 0, 0);
    std::vector<uint8_t> Expected(64);
    std::memcpy(Expected.data() + 16, Patch, 16);
    EXPECT_EQ(Graphics::ReadBuffer(Shared.m_Device.Get(), Shared.m_Context.Get(), Vertices.Get()), Expected);
    // A copy into a renamed buffer lands in its own memory, and stays.
    Shared.m_Context->CopySubresourceRegion(Constants.Get(), 0, 0, 0, 0, Vertices.Get(), 0, &Middle);
    std::memcpy(Bytes.data(), Patch, 16);
    EXPECT_EQ(Graphics::ReadBuffer(Shared.m_Device.Get(), Shared.m_Context.Get(), Constants.Get()), Bytes);
}

TEST(D3D11Context, DiscardingADynamicBufferKeepsWhatEarlierCopiesRead)
{
    Graphics::Device& Shared = Graphics::Shared();
    ComPtr<ID3D11Buffer> Dynamic =
        MakeBuffer(Shared.m_Device.Get(), 16, D3D11_USAGE_DYNAMIC, D3D11_BIND_VERTEX_BUFFER, D3D11_CPU_ACCESS_WRITE);
    ComPtr<ID3D11Buffer> Earlier = MakeBuffer(Shared.m_Device.Get(), 16, D3D11_USAGE_DEFAULT, D3D11_BIND_VERTEX_BUFFER);
    D3D11_MAPPED_SUBRESOURCE Mapped = {};
    ASSERT_EQ(Shared.m_Context->Map(Dynamic.Get(), 0, D3D11_MAP_WRITE_DISCARD, 0, &Mapped), S_OK);
    std::memset(Mapped.pData, 1, 16);
    Shared.m_Context->Unmap(Dynamic.Get(), 0);
    Shared.m_Context->CopyResource(Earlier.Get(), Dynamic.Get()); // recorded, not yet run
    ASSERT_EQ(Shared.m_Context->Map(Dynamic.Get(), 0, D3D11_MAP_WRITE_DISCARD, 0, &Mapped), S_OK);
    std::memset(Mapped.pData, 2, 16);
    Shared.m_Context->Unmap(Dynamic.Get(), 0);
    EXPECT_EQ(Graphics::ReadBuffer(Shared.m_Device.Get(), Shared.m_Context.Get(), Earlier.Get()),
              std::vector<uint8_t>(16, 1));
    EXPECT_EQ(Graphics::ReadBuffer(Shared.m_Device.Get(), Shared.m_Context.Get(), Dynamic.Get()),
              std::vector<uint8_t>(16, 2));
}

// A map that does not wait answers "still drawing" until the copy it waits
// for is done, which it sends to the device: retried, it maps the copy.
TEST(D3D11Context, AMapThatDoesNotWaitEndsWithTheCopy)
{
    Graphics::Device& Shared = Graphics::Shared();
    const std::vector<uint8_t> Pattern(8 * 8 * 4, 0x5A);
    ComPtr<ID3D11Texture2D> Source =
        Texture(8, 8, DXGI_FORMAT_B8G8R8A8_UNORM, D3D11_USAGE_DEFAULT, 0, 0, Pattern.data(), 32);
    ComPtr<ID3D11Texture2D> Staging =
        Texture(8, 8, DXGI_FORMAT_B8G8R8A8_UNORM, D3D11_USAGE_STAGING, 0, D3D11_CPU_ACCESS_READ);
    Shared.m_Context->CopyResource(Staging.Get(), Source.Get());
    D3D11_MAPPED_SUBRESOURCE Mapped = {};
    HRESULT Result = DXGI_ERROR_WAS_STILL_DRAWING;
    const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (Result == DXGI_ERROR_WAS_STILL_DRAWING && std::chrono::steady_clock::now() < Deadline)
    {
        Result = Shared.m_Context->Map(Staging.Get(), 0, D3D11_MAP_READ, D3D11_MAP_FLAG_DO_NOT_WAIT, &Mapped);
        std::this_thread::yield();
    }
    ASSERT_EQ(Result, S_OK);
    EXPECT_EQ(static_cast<const uint8_t*>(Mapped.pData)[Mapped.RowPitch * 7 + 31], 0x5A);
    Shared.m_Context->Unmap(Staging.Get(), 0);
}

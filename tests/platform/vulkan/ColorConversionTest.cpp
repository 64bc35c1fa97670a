// Colour conversion on the device against the host's converter: the NV12
// planes that the device makes of a picture are those that the host makes of
// the same picture, within one step of rounding.

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/frame.h>
}

#include <d3d11.h>

#include "support/Graphics.h"

#include "D3D11/Readback.h"
#include "ffmpeg/FfmpegFrameConverter.h"

namespace {

using Graphics::ComPtr;
using Platform::D3D11::TextureReadback;

// Smooth colour waves with sharp steps and noise: every kind of content that
// chroma filtering treats differently.
std::vector<uint8_t> Picture(int Width, int Height)
{
    std::vector<uint8_t> Pixels(size_t(Width) * Height * 4);
    uint32_t Seed = 99;
    for (int Y = 0; Y < Height; ++Y)
        for (int X = 0; X < Width; ++X)
        {
            uint8_t* Pixel = &Pixels[(size_t(Y) * Width + X) * 4];
            Seed = Seed * 1664525 + 1013904223;
            const bool Noise = X > Width * 3 / 4;
            Pixel[0] = Noise ? uint8_t(Seed >> 24) : uint8_t(X * 255 / Width);                // B
            Pixel[1] = Noise ? uint8_t(Seed >> 16) : uint8_t((X / 7 + Y / 5) % 2 ? 230 : 20); // G
            Pixel[2] = Noise ? uint8_t(Seed >> 8) : uint8_t(Y * 255 / Height);                // R
            Pixel[3] = 255;
        }
    return Pixels;
}

struct Planes
{
    std::vector<uint8_t> Y, U, V;
};

Planes OnTheHost(const std::vector<uint8_t>& Pixels, int Width, int Height)
{
    Platform::FfmpegFrameConverter Converter;
    EXPECT_EQ(Converter.Initialize(Platform::FfmpegInputFormat::B8G8R8A8, Width, Height, AV_PIX_FMT_YUV420P, 1), S_OK);
    AVFrame* Frame = av_frame_alloc();
    Frame->format = AV_PIX_FMT_YUV420P;
    Frame->width = Width;
    Frame->height = Height;
    EXPECT_EQ(av_frame_get_buffer(Frame, 0), 0);
    Platform::FfmpegFrameView View;
    View.Planes[0] = Pixels.data();
    View.Pitches[0] = Width * 4;
    EXPECT_EQ(Converter.Convert(View, Frame), S_OK);
    Planes Result;
    for (int Y = 0; Y < Height; ++Y)
        Result.Y.insert(Result.Y.end(), Frame->data[0] + Y * Frame->linesize[0],
                        Frame->data[0] + Y * Frame->linesize[0] + Width);
    for (int Y = 0; Y < Height / 2; ++Y)
    {
        Result.U.insert(Result.U.end(), Frame->data[1] + Y * Frame->linesize[1],
                        Frame->data[1] + Y * Frame->linesize[1] + Width / 2);
        Result.V.insert(Result.V.end(), Frame->data[2] + Y * Frame->linesize[2],
                        Frame->data[2] + Y * Frame->linesize[2] + Width / 2);
    }
    av_frame_free(&Frame);
    return Result;
}

Planes OnTheDevice(const std::vector<uint8_t>& Pixels, int Width, int Height)
{
    Graphics::Device& Shared = Graphics::Shared();
    const D3D11_TEXTURE2D_DESC Desc = {UINT(Width),
                                       UINT(Height),
                                       1,
                                       1,
                                       DXGI_FORMAT_B8G8R8A8_UNORM,
                                       {1, 0},
                                       D3D11_USAGE_DEFAULT,
                                       D3D11_BIND_SHADER_RESOURCE | D3D11_BIND_RENDER_TARGET,
                                       0,
                                       0};
    const D3D11_SUBRESOURCE_DATA Data = {Pixels.data(), UINT(Width * 4), 0};
    ComPtr<ID3D11Texture2D> Texture;
    EXPECT_EQ(Shared.m_Device->CreateTexture2D(&Desc, &Data, Texture.GetAddressOf()), S_OK);
    Planes Result;
    TextureReadback Readback;
    EXPECT_TRUE(TextureReadback::Converts(Texture.Get()));
    EXPECT_EQ(Readback.Read(Texture.Get(), TextureReadback::Output::Nv12), S_OK);
    if (Readback.Layout().size() != 2)
        return Result;
    EXPECT_EQ(Readback.BytesRead(), uint64_t(Width) * Height * 3 / 2);
    const auto& Luma = Readback.Layout()[0];
    const auto& Chroma = Readback.Layout()[1];
    for (int Y = 0; Y < Height; ++Y)
        Result.Y.insert(Result.Y.end(), Readback.Data() + Luma.m_Offset + Y * Luma.m_RowPitch,
                        Readback.Data() + Luma.m_Offset + Y * Luma.m_RowPitch + Width);
    for (int Y = 0; Y < Height / 2; ++Y)
        for (int X = 0; X < Width / 2; ++X)
        {
            Result.U.push_back(Readback.Data()[Chroma.m_Offset + Y * Chroma.m_RowPitch + 2 * X]);
            Result.V.push_back(Readback.Data()[Chroma.m_Offset + Y * Chroma.m_RowPitch + 2 * X + 1]);
        }
    return Result;
}

// The largest difference between two planes, and how many samples differ.
std::pair<int, size_t> Compare(const std::vector<uint8_t>& First, const std::vector<uint8_t>& Second)
{
    int Largest = First.size() == Second.size() ? 0 : 256;
    size_t Differing = 0;
    for (size_t Index = 0; Index < std::min(First.size(), Second.size()); ++Index)
    {
        const int Difference = std::abs(int(First[Index]) - int(Second[Index]));
        Largest = std::max(Largest, Difference);
        Differing += Difference != 0;
    }
    return {Largest, Differing};
}

} // namespace

TEST(ColorConversion, TheDeviceMakesTheHostsPlanes)
{
    // A width of whole words, and one that ends in half a word.
    for (const auto& [Width, Height] : {std::pair{64, 32}, std::pair{70, 18}})
    {
        const std::vector<uint8_t> Pixels = Picture(Width, Height);
        const Planes Host = OnTheHost(Pixels, Width, Height);
        const Planes Device = OnTheDevice(Pixels, Width, Height);
        for (const auto& [Name, First, Second] :
             {std::tuple{"Y", &Host.Y, &Device.Y}, std::tuple{"U", &Host.U, &Device.U},
              std::tuple{"V", &Host.V, &Device.V}})
        {
            // The host rounds in fixed point, the device in floating point:
            // a few samples land one step apart, none further.
            const auto [Largest, Differing] = Compare(*First, *Second);
            EXPECT_LE(Largest, 1) << Name << " at " << Width << "x" << Height;
            EXPECT_LE(Differing, First->size() / (*Name == 'Y' ? 50 : 6)) << Name << " at " << Width << "x" << Height;
        }
    }
}

TEST(ColorConversion, OnlyEvenRgbTexturesConvert)
{
    Graphics::Device& Shared = Graphics::Shared();
    auto Make = [&](UINT Width, UINT Height, DXGI_FORMAT Format) {
        const D3D11_TEXTURE2D_DESC Desc = {Width, Height, 1, 1, Format, {1, 0}, D3D11_USAGE_DEFAULT, 0, 0, 0};
        ComPtr<ID3D11Texture2D> Texture;
        EXPECT_EQ(Shared.m_Device->CreateTexture2D(&Desc, nullptr, Texture.GetAddressOf()), S_OK);
        return Texture;
    };
    TextureReadback Readback;
    EXPECT_TRUE(TextureReadback::Converts(Make(8, 8, DXGI_FORMAT_R8G8B8A8_UNORM).Get()));
    EXPECT_FALSE(TextureReadback::Converts(Make(9, 8, DXGI_FORMAT_B8G8R8A8_UNORM).Get()));
    EXPECT_FALSE(TextureReadback::Converts(Make(8, 8, DXGI_FORMAT_R16G16B16A16_FLOAT).Get()));
    EXPECT_FALSE(TextureReadback::Converts(Make(8, 8, DXGI_FORMAT_B8G8R8A8_UNORM_SRGB).Get()));
    EXPECT_EQ(Readback.Read(Make(8, 7, DXGI_FORMAT_B8G8R8A8_UNORM).Get(), TextureReadback::Output::Nv12), E_INVALIDARG);
}

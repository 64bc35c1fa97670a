// Colour conversion on the device against the conversion it implements,
// worked out here in double precision: BT.709 in limited range; luma of each
// pixel, chroma of each pair of columns averaged and four rows weighted 1,
// 3, 3, 1 around its pair of rows, the edge rows repeated.

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include <gtest/gtest.h>

#include "platform/vulkan/SoftwareContext.h"

namespace {

using Platform::Vulkan::BufferSlice;
using Platform::Vulkan::CommandContext;

// Smooth colour waves with sharp steps and noise: every kind of content that
// chroma filtering treats differently. B, G, R, A.
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
            Pixel[0] = Noise ? uint8_t(Seed >> 24) : uint8_t(X * 255 / Width);
            Pixel[1] = Noise ? uint8_t(Seed >> 16) : uint8_t((X / 7 + Y / 5) % 2 ? 230 : 20);
            Pixel[2] = Noise ? uint8_t(Seed >> 8) : uint8_t(Y * 255 / Height);
            Pixel[3] = 255;
        }
    return Pixels;
}

struct Planes
{
    std::vector<uint8_t> Y, U, V;
};

int Byte(double Value) { return std::clamp(int(std::floor(Value + 0.5)), 0, 255); }

Planes Reference(const std::vector<uint8_t>& Pixels, int Width, int Height)
{
    constexpr double Kr = 0.2126, Kg = 0.7152, Kb = 0.0722;
    auto Channel = [&](int X, int Y, int Index) {
        Y = std::clamp(Y, 0, Height - 1);
        return Pixels[(size_t(Y) * Width + X) * 4 + Index] / 255.0;
    };
    Planes Result;
    for (int Y = 0; Y < Height; ++Y)
        for (int X = 0; X < Width; ++X)
            Result.Y.push_back(
                uint8_t(Byte(16 + 219 * (Kr * Channel(X, Y, 2) + Kg * Channel(X, Y, 1) + Kb * Channel(X, Y, 0)))));
    constexpr double Weights[4] = {0.125, 0.375, 0.375, 0.125};
    for (int Y = 0; Y < Height; Y += 2)
        for (int X = 0; X < Width; X += 2)
        {
            double R = 0, G = 0, B = 0;
            for (int Row = 0; Row < 4; ++Row)
                for (int Column = 0; Column < 2; ++Column)
                {
                    R += Weights[Row] * 0.5 * Channel(X + Column, Y - 1 + Row, 2);
                    G += Weights[Row] * 0.5 * Channel(X + Column, Y - 1 + Row, 1);
                    B += Weights[Row] * 0.5 * Channel(X + Column, Y - 1 + Row, 0);
                }
            const double Luma = Kr * R + Kg * G + Kb * B;
            Result.U.push_back(uint8_t(Byte(128 + 224 * (B - Luma) / 1.8556)));
            Result.V.push_back(uint8_t(Byte(128 + 224 * (R - Luma) / 1.5748)));
        }
    return Result;
}

Planes OnTheDevice(const std::vector<uint8_t>& Pixels, int Width, int Height)
{
    Testing::SoftwareContext Context;
    Planes Result;
    if (!Context.m_Commands)
        return Result;
    const auto Image = Context.MakeImage(VK_FORMAT_B8G8R8A8_UNORM, Width, Height, Pixels);
    // Rows padded to words, the chroma plane after a gap.
    const uint32_t Pitch = (Width + 3) / 4 * 4 + 4;
    const Platform::Vulkan::Nv12Planes Layout = {
        uint32_t(Width), uint32_t(Height), 0, Pitch, uint64_t(Pitch) * Height + 64, Pitch};
    const auto Target = Context.MakeHostBuffer(Layout.m_ChromaOffset + uint64_t(Pitch) * Height / 2);
    EXPECT_EQ(Context.m_Commands->ConvertToNv12(Image, BufferSlice::Whole(Target), Layout), VK_SUCCESS);
    const std::vector<uint8_t> Bytes = Context.Read(Target);
    for (int Y = 0; Y < Height; ++Y)
        Result.Y.insert(Result.Y.end(), Bytes.begin() + Y * Pitch, Bytes.begin() + Y * Pitch + Width);
    for (int Y = 0; Y < Height / 2; ++Y)
        for (int X = 0; X < Width / 2; ++X)
        {
            Result.U.push_back(Bytes[Layout.m_ChromaOffset + Y * Pitch + 2 * X]);
            Result.V.push_back(Bytes[Layout.m_ChromaOffset + Y * Pitch + 2 * X + 1]);
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

TEST(VulkanColorConversion, TheDeviceMakesTheReferencePlanes)
{
    // A width of whole words, one that ends in half a word, and a height
    // whose last block of rows is a single pair.
    for (const auto& [Width, Height] : {std::pair{64, 32}, std::pair{70, 18}})
    {
        const std::vector<uint8_t> Pixels = Picture(Width, Height);
        const Planes Expected = Reference(Pixels, Width, Height);
        const Planes Device = OnTheDevice(Pixels, Width, Height);
        for (const auto& [Name, First, Second] :
             {std::tuple{"Y", &Expected.Y, &Device.Y}, std::tuple{"U", &Expected.U, &Device.U},
              std::tuple{"V", &Expected.V, &Device.V}})
        {
            // The device rounds in single precision: a sample that lies at
            // half a step may land one step apart, none further.
            const auto [Largest, Differing] = Compare(*First, *Second);
            EXPECT_LE(Largest, 1) << Name << " at " << Width << "x" << Height;
            EXPECT_LE(Differing, First->size() / 50) << Name << " at " << Width << "x" << Height;
        }
    }
}

TEST(VulkanColorConversion, OnlyEightBitRgbConverts)
{
    EXPECT_TRUE(CommandContext::ConvertsToNv12(VK_FORMAT_B8G8R8A8_UNORM));
    EXPECT_TRUE(CommandContext::ConvertsToNv12(VK_FORMAT_R8G8B8A8_UNORM));
    EXPECT_FALSE(CommandContext::ConvertsToNv12(VK_FORMAT_B8G8R8A8_SRGB));
    EXPECT_FALSE(CommandContext::ConvertsToNv12(VK_FORMAT_R16G16B16A16_SFLOAT));
    Testing::SoftwareContext Context;
    ASSERT_TRUE(Context.m_Commands);
    const auto Image = Context.MakeImage(VK_FORMAT_R16G16B16A16_SFLOAT, 8, 8, {});
    const auto Target = Context.MakeHostBuffer(256);
    const Platform::Vulkan::Nv12Planes Layout = {8, 8, 0, 8, 64, 8};
    EXPECT_EQ(Context.m_Commands->ConvertToNv12(Image, BufferSlice::Whole(Target), Layout),
              VK_ERROR_VALIDATION_FAILED_EXT);
}

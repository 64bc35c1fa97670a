// Reading textures back while the device renders.

#include <array>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <d3d10.h>
#include <d3d11.h>
#include <dxgi1_3.h>

#include "support/Drawing.h"
#include "support/Graphics.h"

#include "D3D11/Readback.h"

using namespace Graphics;

// One thread renders and copies while another reads the texture back, as the
// encoder's thread will; under ThreadSanitizer too.
TEST(D3D11Concurrency, ReadbackOnAnotherThreadWhileRendering)
{
    Drawing Draw(64, 32);
    Graphics::Device& Shared = Graphics::Shared();
    ComPtr<ID3D10Multithread> Multithread;
    ASSERT_EQ(Shared.m_Device.As(&Multithread), S_OK);
    Multithread->SetMultithreadProtected(TRUE);
    ComPtr<ID3D11Texture2D> Copy =
        Texture(64, 32, DXGI_FORMAT_B8G8R8A8_UNORM, D3D11_USAGE_DEFAULT, D3D11_BIND_RENDER_TARGET);
    Draw.Draw(Quad(1, 0, 0), White);
    Shared.m_Context->CopyResource(Copy.Get(), Draw.m_Target.Get());

    std::atomic<bool> Stop{false};
    std::atomic<int> Reads{0}, Wrong{0};
    std::thread Reader([&] {
        Platform::D3D11::TextureReadback Readback;
        while (!Stop.load() || Reads.load() < 3)
        {
            if (FAILED(Readback.Read(Copy.Get())))
            {
                ++Wrong;
                break;
            }
            // Every frame copied is one solid colour, red or green.
            const uint8_t* Data = Readback.Data();
            const uint8_t First = Data[2];
            for (UINT Y = 0; Y < 32; ++Y)
                for (UINT X = 0; X < 64; ++X)
                    if (Data[Y * Readback.Layout()[0].m_RowPitch + X * 4 + 2] != First)
                        ++Wrong;
            ++Reads;
        }
    });
    for (int Frame = 0; Frame < 20; ++Frame)
    {
        Draw.Draw(Frame % 2 ? Quad(1, 0, 0) : Quad(0, 1, 0), White);
        Multithread->Enter();
        Shared.m_Context->CopyResource(Copy.Get(), Draw.m_Target.Get());
        Multithread->Leave();
    }
    Stop = true;
    Reader.join();
    EXPECT_EQ(Wrong.load(), 0);
    EXPECT_GE(Reads.load(), 3);
    Multithread->SetMultithreadProtected(FALSE);
}

TEST(D3D11Readback, OnlyEvenRgbTexturesConvert)
{
    Graphics::Device& Shared = Graphics::Shared();
    auto Make = [&](UINT Width, UINT Height, DXGI_FORMAT Format) {
        const D3D11_TEXTURE2D_DESC Desc = {Width, Height, 1, 1, Format, {1, 0}, D3D11_USAGE_DEFAULT, 0, 0, 0};
        ComPtr<ID3D11Texture2D> Texture;
        EXPECT_EQ(Shared.m_Device->CreateTexture2D(&Desc, nullptr, Texture.GetAddressOf()), S_OK);
        return Texture;
    };
    using Platform::D3D11::TextureReadback;
    TextureReadback Readback;
    EXPECT_TRUE(TextureReadback::Converts(Make(8, 8, DXGI_FORMAT_R8G8B8A8_UNORM).Get()));
    EXPECT_FALSE(TextureReadback::Converts(Make(9, 8, DXGI_FORMAT_B8G8R8A8_UNORM).Get()));
    EXPECT_FALSE(TextureReadback::Converts(Make(8, 8, DXGI_FORMAT_R16G16B16A16_FLOAT).Get()));
    EXPECT_FALSE(TextureReadback::Converts(Make(8, 8, DXGI_FORMAT_B8G8R8A8_UNORM_SRGB).Get()));
    EXPECT_EQ(Readback.Read(Make(8, 7, DXGI_FORMAT_B8G8R8A8_UNORM).Get(), TextureReadback::Output::Nv12), E_INVALIDARG);
}

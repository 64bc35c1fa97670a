// A written sample on its way to the encoder: where its pixels are read and
// when it goes back to its pool.

#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include <mfapi.h>

#include "support/Graphics.h"

#include "mf/SampleFrame.h"

namespace {

using Graphics::ComPtr;
using Platform::FfmpegFramePath;
using Platform::FfmpegFrameView;
using Platform::FfmpegInputFormat;

constexpr UINT Width = 642, Height = 362;

ComPtr<IMFSample> SampleOf(ID3D11Texture2D* Texture)
{
    ComPtr<IMFMediaBuffer> Buffer;
    EXPECT_EQ(MFCreateDXGISurfaceBuffer(__uuidof(ID3D11Texture2D), Texture, 0, FALSE, Buffer.GetAddressOf()), S_OK);
    ComPtr<IMFSample> Sample;
    EXPECT_EQ(MFCreateSample(Sample.GetAddressOf()), S_OK);
    EXPECT_EQ(Sample->AddBuffer(Buffer.Get()), S_OK);
    return Sample;
}

ULONG References(IUnknown* Object)
{
    Object->AddRef();
    return Object->Release();
}

struct Case
{
    bool m_InPlace;
    FfmpegFramePath m_Path;
    uint64_t m_BytesCopied;
};

class SampleFrameTest : public testing::TestWithParam<Case>
{};

// A frame drawn into a pooled texture by a copy that is only recorded when
// the sample is written: the frame source waits for it, hands out exactly its
// pixels, and lets the sample go only once they are no longer read: after
// the readback, or, read in place, when the writer releases the frame.
TEST_P(SampleFrameTest, ReadsTheCopyAndKeepsTheSampleWhileItsPixelsAreRead)
{
    std::vector<uint8_t> Pixels(size_t(Width) * Height * 4);
    for (size_t Index = 0; Index < Pixels.size(); ++Index)
        Pixels[Index] = uint8_t(Index * 7 + Index / 4099);
    ID3D11Device* Device = Graphics::Shared().m_Device.Get();
    const ComPtr<ID3D11Texture2D> Drawn = Graphics::BgraTexture(Device, Pixels, Width, Height),
                                  Pooled =
                                      Graphics::BgraTexture(Device, std::vector<uint8_t>(Pixels.size()), Width, Height);
    Graphics::Shared().m_Context->CopyResource(Pooled.Get(), Drawn.Get());
    const ComPtr<IMFSample> Sample = SampleOf(Pooled.Get());

    Platform::ReadbackRing Ring(1);
    Platform::D3D11::TextureReadback Fallback;
    auto* Frame = new Platform::SampleFrame(Sample.Get(), Ring, Fallback, FfmpegInputFormat::B8G8R8A8, false,
                                            GetParam().m_InPlace, Width, Height);
    Frame->Start();
    const ULONG Alone = References(Sample.Get()) - 1;
    FfmpegFrameView View;
    ASSERT_FALSE(Frame->Lock(View).Failed());
    EXPECT_EQ(View.Path, GetParam().m_Path);
    EXPECT_EQ(View.BytesCopied, GetParam().m_BytesCopied);
    ASSERT_NE(View.Planes[0], nullptr);
    ASSERT_GE(View.Pitches[0], int(Width * 4));
    size_t Differing = 0;
    for (UINT Row = 0; Row < Height; ++Row)
        Differing += std::memcmp(View.Planes[0] + size_t(Row) * View.Pitches[0], &Pixels[size_t(Row) * Width * 4],
                                 Width * 4) != 0;
    EXPECT_EQ(Differing, 0u);
    EXPECT_EQ(References(Sample.Get()), GetParam().m_InPlace ? Alone + 1 : Alone);
    Frame->Release();
    EXPECT_EQ(References(Sample.Get()), Alone);
}

INSTANTIATE_TEST_SUITE_P(Ways, SampleFrameTest,
                         testing::Values(Case{true, FfmpegFramePath::InPlace, 0},
                                         Case{false, FfmpegFramePath::ReadbackBgra, uint64_t(Width) * Height * 4}),
                         [](const testing::TestParamInfo<Case>& Info) {
                             return Info.param.m_InPlace ? "InPlace" : "ReadBack";
                         });

} // namespace

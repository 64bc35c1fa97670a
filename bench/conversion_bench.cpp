// Times the two ways a rendered frame reaches the encoder as 4:2:0, each part
// alone, on the tool's own picture:
//
//   ostrel_conversion_bench [WIDTH HEIGHT [FRAMES]]   (1920 1080 120)
//
// Host: the texture read back as it is (B8G8R8A8), then libswscale to
// YUV420P on every core, as the sink writer does without device conversion.
// Device: the compute pass to NV12 and the read back of its planes, then the
// planes copied into the encoder's frame.

#include <chrono>
#include <cstdio>
#include <cstdlib>

extern "C" {
#include <libavutil/frame.h>
}

#include <d3d11.h>

#include "ffmpeg/FfmpegFrameConverter.h"
#include "Module/Context.h"
#include "diagnostics/ComException.h"

#include "D3D11/Readback.h"

namespace {

using Clock = std::chrono::steady_clock;
using Platform::D3D11::TextureReadback;

double Milliseconds(Clock::duration Span) { return std::chrono::duration<double, std::milli>(Span).count(); }

AVFrame* EncoderFrame(AVPixelFormat Format, int Width, int Height)
{
    AVFrame* Frame = av_frame_alloc();
    Frame->format = Format;
    Frame->width = Width;
    Frame->height = Height;
    if (av_frame_get_buffer(Frame, 0) < 0)
        std::exit(2);
    return Frame;
}

struct Figures
{
    double m_Read = 0;    // ms a frame, the readback alone (begun and waited for)
    double m_Convert = 0; // ms a frame, the host's part after it
    uint64_t m_Bytes = 0; // read back a frame
};

Figures Measure(ID3D11Texture2D* Texture, TextureReadback::Output Output, int Width, int Height, int Frames)
{
    const bool Device = Output == TextureReadback::Output::Nv12;
    Platform::FfmpegFrameConverter Converter;
    if (Converter.Initialize(Device ? Platform::FfmpegInputFormat::Nv12 : Platform::FfmpegInputFormat::B8G8R8A8, Width,
                             Height, Device ? AV_PIX_FMT_NV12 : AV_PIX_FMT_YUV420P) < 0)
        std::exit(2);
    AVFrame* Frame = EncoderFrame(Device ? AV_PIX_FMT_NV12 : AV_PIX_FMT_YUV420P, Width, Height);
    TextureReadback Readback;
    Figures Result;
    for (int Index = -1; Index < Frames; ++Index) // the first one warms up
    {
        const auto Start = Clock::now();
        if (FAILED(Readback.Read(Texture, Output)))
            std::exit(2);
        const auto Read = Clock::now();
        Platform::FfmpegFrameView View;
        for (size_t Plane = 0; Plane < Readback.Layout().size(); ++Plane)
        {
            View.Planes[Plane] = Readback.Data() + Readback.Layout()[Plane].m_Offset;
            View.Pitches[Plane] = static_cast<int>(Readback.Layout()[Plane].m_RowPitch);
        }
        if (Converter.Convert(View, Frame) < 0)
            std::exit(2);
        if (Index < 0)
            continue;
        Result.m_Read += Milliseconds(Read - Start) / Frames;
        Result.m_Convert += Milliseconds(Clock::now() - Read) / Frames;
    }
    Result.m_Bytes = Readback.BytesRead();
    av_frame_free(&Frame);
    return Result;
}

} // namespace

int main(int ArgumentCount, char** Arguments)
{
    Application::Configuration Configuration;
    Configuration.m_FrameSizeW = ArgumentCount > 2 ? std::atoi(Arguments[1]) : 1920;
    Configuration.m_FrameSizeH = ArgumentCount > 2 ? std::atoi(Arguments[2]) : 1080;
    const int Frames = ArgumentCount > 3 ? std::atoi(Arguments[3]) : 120;
    const int Width = static_cast<int>(Configuration.m_FrameSizeW),
              Height = static_cast<int>(Configuration.m_FrameSizeH);
    try
    {
        // The picture, copied into a texture like the sample pool's.
        Application::Context Context(Configuration);
        Context.Render(7.0f);
        D3D11_TEXTURE2D_DESC Desc;
        Context.m_Texture->GetDesc(&Desc);
        Microsoft::WRL::ComPtr<ID3D11Texture2D> Sample;
        if (FAILED(Context.m_Device->CreateTexture2D(&Desc, nullptr, Sample.GetAddressOf())))
            return 1;
        Context.m_DeviceContext->CopyResource(Sample.Get(), Context.m_Texture.Get());

        const Figures Host = Measure(Sample.Get(), TextureReadback::Output::Native, Width, Height, Frames);
        const Figures Device = Measure(Sample.Get(), TextureReadback::Output::Nv12, Width, Height, Frames);
        std::printf("adapter: %ls; %dx%d, %d frames\n", Context.m_DxgiAdapterDesc1.Description, Width, Height, Frames);
        std::printf(
            "host:   read back %5.2f ms (%llu bytes), libswscale to YUV420P %5.2f ms, together %5.2f ms a frame\n",
            Host.m_Read, static_cast<unsigned long long>(Host.m_Bytes), Host.m_Convert, Host.m_Read + Host.m_Convert);
        std::printf("device: convert and read back %5.2f ms (%llu bytes), copy into the frame %5.2f ms, together %5.2f "
                    "ms a frame\n",
                    Device.m_Read, static_cast<unsigned long long>(Device.m_Bytes), Device.m_Convert,
                    Device.m_Read + Device.m_Convert);
    }
    catch (const ComException& Exception)
    {
        std::fprintf(stderr, "failed with 0x%08X\n", static_cast<unsigned>(Exception.m_Result));
        return 1;
    }
    return 0;
}

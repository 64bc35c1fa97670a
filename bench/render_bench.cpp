// Times the rendering of frames:
// ostrel_render_benchmark [WIDTH HEIGHT [FRAMES [PNG [TIME [SHADER.hlsl]]]]]
// Prints the time per frame with the first frame (which compiles the
// pipeline) left out, and writes one frame as PNG. A shader file given
// replaces the embedded source, for trying changes without a rebuild.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include <d3d11.h>

#include "Module/Context.h"
#include "diagnostics/ComException.h"
#include "support/Png.h"
#include "support/TextureReadback.h"

namespace {

using Clock = std::chrono::steady_clock;

// Waits for everything drawn so far: a one-pixel copy into a staging texture
// and its Map.
class Fence
{
public:
    explicit Fence(Application::Context& Context) : m_Context(Context)
    {
        D3D11_TEXTURE2D_DESC Desc = {};
        Desc.Width = Desc.Height = Desc.MipLevels = Desc.ArraySize = 1;
        Desc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
        Desc.SampleDesc.Count = 1;
        Desc.Usage = D3D11_USAGE_STAGING;
        Desc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
        if (FAILED(Context.m_Device->CreateTexture2D(&Desc, nullptr, m_Staging.GetAddressOf())))
            std::exit(2);
    }
    void Wait()
    {
        const D3D11_BOX Box = {0, 0, 0, 1, 1, 1};
        m_Context.m_DeviceContext->CopySubresourceRegion(m_Staging.Get(), 0, 0, 0, 0, m_Context.m_Texture.Get(), 0,
                                                         &Box);
        D3D11_MAPPED_SUBRESOURCE Mapped;
        if (FAILED(m_Context.m_DeviceContext->Map(m_Staging.Get(), 0, D3D11_MAP_READ, 0, &Mapped)))
            std::exit(2);
        m_Context.m_DeviceContext->Unmap(m_Staging.Get(), 0);
    }

private:
    Application::Context& m_Context;
    Microsoft::WRL::ComPtr<ID3D11Texture2D> m_Staging;
};

bool WriteFrame(Application::Context& Context, const std::string& Path)
{
    const Graphics::Readback Frame =
        Graphics::ReadTexture(Context.m_Device.Get(), Context.m_DeviceContext.Get(), Context.m_Texture.Get());
    return SUCCEEDED(Frame.m_Result) &&
           Png::WriteBgra(Path, Frame.m_Pixels.data(), Frame.m_Width, Frame.m_Height, Frame.m_Width * 4);
}

} // namespace

int main(int ArgumentCount, char** Arguments)
{
    Application::Configuration Configuration;
    Configuration.m_FrameSizeW = ArgumentCount > 2 ? std::atoi(Arguments[1]) : 1920;
    Configuration.m_FrameSizeH = ArgumentCount > 2 ? std::atoi(Arguments[2]) : 1080;
    const int Frames = ArgumentCount > 3 ? std::atoi(Arguments[3]) : 60;
    const std::string Png = ArgumentCount > 4 ? Arguments[4] : "frame.png";
    const float PngTime = ArgumentCount > 5 ? std::strtof(Arguments[5], nullptr) : 7.0f;
    static std::string Source;
    if (ArgumentCount > 6)
    {
        std::ifstream File(Arguments[6], std::ios::binary);
        std::ostringstream Text;
        Text << File.rdbuf();
        for (char Character : Text.str())
        {
            if (Character == '\n')
                Source += '\r';
            if (Character != '\r')
                Source += Character;
        }
        Platform::RegisterResource(10, 105, 1033, Source.data(), static_cast<DWORD>(Source.size()));
    }
    try
    {
        const auto SetupStart = Clock::now();
        Application::Context Context(Configuration);
        Fence Done(Context);
        const auto FirstStart = Clock::now();
        Context.Render(0.0f);
        Done.Wait();
        const auto FirstEnd = Clock::now();

        // Frames back to back, as the encoding run renders them.
        const auto Start = Clock::now();
        for (int Frame = 1; Frame <= Frames; ++Frame)
            Context.Render(Frame / 60.0f);
        Done.Wait();
        const auto End = Clock::now();

        // One frame at a time, each waited for.
        double Longest = 0.0, Total = 0.0;
        const int Single = 10;
        for (int Frame = 0; Frame < Single; ++Frame)
        {
            const auto FrameStart = Clock::now();
            Context.Render(Frame / 60.0f + 10.0f);
            Done.Wait();
            const double Milliseconds = std::chrono::duration<double, std::milli>(Clock::now() - FrameStart).count();
            Longest = std::max(Longest, Milliseconds);
            Total += Milliseconds;
        }

        const auto Ms = [](auto Span) { return std::chrono::duration<double, std::milli>(Span).count(); };
        std::printf("adapter: %ls\n", Context.m_DxgiAdapterDesc1.Description);
        std::printf("size: %ux%u\n", Configuration.m_FrameSizeW, Configuration.m_FrameSizeH);
        std::printf("setup (device, shaders): %.1f ms\n", Ms(FirstStart - SetupStart));
        std::printf("first frame (compiles the pipeline): %.1f ms\n", Ms(FirstEnd - FirstStart));
        std::printf("render, %d frames back to back: %.2f ms per frame\n", Frames, Ms(End - Start) / Frames);
        std::printf("render, %d frames one at a time: %.2f ms per frame on average, %.2f ms at most\n", Single,
                    Total / Single, Longest);
        Context.Render(PngTime);
        if (!WriteFrame(Context, Png))
        {
            std::fprintf(stderr, "could not write %s\n", Png.c_str());
            return 1;
        }
        std::printf("frame at %.2f s: %s\n", PngTime, Png.c_str());
    }
    catch (const ComException& Exception)
    {
        std::fprintf(stderr, "failed with 0x%08X\n", static_cast<unsigned>(Exception.m_Result));
        return 1;
    }
    return 0;
}

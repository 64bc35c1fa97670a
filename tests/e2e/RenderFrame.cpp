// Renders the frame that the encoding run draws for one frame index and
// writes its pixels as raw B8G8R8A8 rows, top row first:
//
//   ostrel_render_frame WIDTH HEIGHT RATE_N RATE_D FRAME_INDEX OUTPUT.bgra
//
// The frame's time is computed as the run computes it, so the output is the
// picture that a decoded frame of the video should show.

#include <cstdio>
#include <cstdlib>

#include <d3d11.h>
#include <mfapi.h>

#include "Module/Context.h"
#include "diagnostics/ComException.h"
#include "support/TextureReadback.h"

int main(int ArgumentCount, char** Arguments)
{
    if (ArgumentCount != 7)
    {
        std::fprintf(stderr, "usage: %s WIDTH HEIGHT RATE_N RATE_D FRAME_INDEX OUTPUT.bgra\n", Arguments[0]);
        return 2;
    }
    Application::Configuration Configuration;
    Configuration.m_FrameSizeW = static_cast<uint32_t>(std::atoi(Arguments[1]));
    Configuration.m_FrameSizeH = static_cast<uint32_t>(std::atoi(Arguments[2]));
    Configuration.m_FrameRateN = static_cast<uint32_t>(std::atoi(Arguments[3]));
    Configuration.m_FrameRateD = static_cast<uint32_t>(std::atoi(Arguments[4]));
    const long long FrameIndex = std::atoll(Arguments[5]);
    try
    {
        Application::Context Context(Configuration);
        const LONGLONG SampleTime =
            MFllMulDiv(FrameIndex, 1000 * 10000LL * Configuration.m_FrameRateD, Configuration.m_FrameRateN, 0);
        Context.Render(static_cast<float>(SampleTime) / 10000000.0f);

        const Graphics::Readback Frame =
            Graphics::ReadTexture(Context.m_Device.Get(), Context.m_DeviceContext.Get(), Context.m_Texture.Get());
        if (FAILED(Frame.m_Result))
            return 1;
        FILE* File = std::fopen(Arguments[6], "wb");
        bool Written =
            File && std::fwrite(Frame.m_Pixels.data(), 1, Frame.m_Pixels.size(), File) == Frame.m_Pixels.size();
        if (File && std::fclose(File) != 0)
            Written = false;
        if (!Written)
        {
            std::fprintf(stderr, "could not write %s\n", Arguments[6]);
            return 1;
        }
    }
    catch (const ComException& Exception)
    {
        std::fprintf(stderr, "failed with 0x%08X\n", static_cast<unsigned>(Exception.m_Result));
        return 1;
    }
    return 0;
}

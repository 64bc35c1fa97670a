// The application: entry point, command-line configuration and run modes.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include <windows.h>

#include <d3d11.h>
#include <d3dcompiler.h>
#include <dxgi1_3.h>
#include <mfidl.h>
#include <mfreadwrite.h>
#include <wrl/client.h>

#include "Arguments.h"

// printf-style formatting of narrow text through an 8,192-character buffer.
std::string Format(const char* Format, ...);

// Writes one line to standard output, then flushes it.
void PrintLine(const std::string& Line);
// Flushes standard output and tells whether everything printed reached it;
// when not, says why on standard error ("Ostrel: standard output: ...").
bool FinishStandardOutput();

void PrintSyntax();
// "Ostrel 1.0.0".
void PrintVersion();

// Scope of the thread's Windows Runtime initialisation; converts to the
// initialisation's result, which the owner checks.
class RoInitializeWrapper
{
public:
    explicit RoInitializeWrapper(RO_INIT_TYPE Type);
    ~RoInitializeWrapper();
    RoInitializeWrapper(const RoInitializeWrapper&) = delete;
    RoInitializeWrapper& operator=(const RoInitializeWrapper&) = delete;

    operator HRESULT() const { return m_Result; }

private:
    HRESULT m_Result;
};

class Application
{
public:
    struct Configuration
    {
        uint32_t m_DxgiAdapterIndex = 0;
        uint32_t m_FrameSizeW = 1920;
        uint32_t m_FrameSizeH = 1080;
        uint32_t m_FrameRateN = 60000;
        uint32_t m_FrameRateD = 1000;
        int32_t m_Duration = 60;
        uint32_t m_Bitrate = 10000000;
    };

    // Reads the configuration from the arguments; a bad command line fails
    // with E_INVALIDARG.
    explicit Application(const Arguments& Arguments);

    // The encoding run: writes the video, or prints the syntax when no output
    // path was given. Prints its own failures and returns normally: S_OK, or
    // the failure that ended the run (HRESULT_FROM_WIN32(ERROR_CANCELLED)
    // when a console control event stopped it).
    HRESULT Do();

    // A status line on standard error while the run goes, when standard
    // error is a console: frames written of the total, the rate so far, the
    // time taken and the time left. Redrawn at most four times a second and
    // erased before the run's last line; nothing at all without a console.
    class Progress
    {
    public:
        Progress(UINT32 FrameCount, ULONGLONG StartTick);
        ~Progress() { Erase(); }
        Progress(const Progress&) = delete;
        Progress& operator=(const Progress&) = delete;

        // After each frame written, with the tick count of the moment.
        void Update(UINT32 FramesWritten, ULONGLONG Tick)
        {
            if (m_Console && Tick >= m_NextDraw)
                Draw(FramesWritten, Tick);
        }
        void Erase();

        // The status text for a moment of the run, e.g.
        // "frame 1200/3600  35.2 fps  34 s  ETA 68 s".
        static std::string Text(UINT32 FramesWritten, UINT32 FrameCount, ULONGLONG Elapsed);

    private:
        void Draw(UINT32 FramesWritten, ULONGLONG Tick);

        const bool m_Console;
        const UINT32 m_FrameCount;
        const ULONGLONG m_StartTick;
        ULONGLONG m_NextDraw = 0;
        size_t m_Drawn = 0; // characters on the line now
    };

    // Where the run's time went: the rendering thread's own stamps (drawing
    // and copying each frame, waiting for a free sample, handing samples to
    // the writer) and the sink writer's figures where it offers them (the
    // device's busy time, the writer's readback, conversion, encoding and
    // muxing). After the run: one summary line on standard error when that
    // is a console, and a JSON object in the file that OSTREL_STATISTICS
    // names.
    class Statistics
    {
    public:
        using Clock = std::chrono::steady_clock;

        struct Figures
        {
            std::wstring m_Adapter;
            std::wstring m_Encoder; // empty when the writer does not say
            UINT32 m_Frames = 0;
            double m_ElapsedSeconds = 0;
            // Totals in seconds: the rendering thread's.
            double m_Submit = 0, m_WaitForSample = 0, m_WaitForWriter = 0;
            // The device's busy time, where the writer knows it.
            bool m_DeviceKnown = false;
            double m_Device = 0;
            // The writer's stages, where it tells them.
            bool m_WriterStages = false;
            double m_Readback = 0, m_Convert = 0, m_Encode = 0, m_Mux = 0;
            // How the frames reached the encoder ("in-place", "cuda",
            // "readback-nv12", "readback-bgra") and the bytes copied on the
            // way, where the writer tells them.
            std::wstring m_FramePath;
            bool m_BytesCopiedKnown = false;
            UINT64 m_BytesCopied = 0;

            // Seconds a frame of rendering and copying: on the device where
            // its time is known, else on the rendering thread.
            double Render() const { return m_DeviceKnown ? m_Device : m_Submit; }
        };

        // Adds the time since Start to a total.
        void Submit(Clock::time_point Start) { m_Submit += Clock::now() - Start; }
        void WaitForSample(Clock::time_point Start) { m_WaitForSample += Clock::now() - Start; }
        void WaitForWriter(Clock::time_point Start) { m_WaitForWriter += Clock::now() - Start; }

        // The figures of a finished run on Adapter, the writer's asked of
        // SinkWriter.
        Figures Collect(const wchar_t* Adapter, IMFSinkWriter* SinkWriter, DWORD StreamIndex, UINT32 Frames,
                        double ElapsedSeconds) const;
        // The summary on standard error when it is a console; the JSON file
        // where OSTREL_STATISTICS names one (a failure to write it is said on
        // standard error and changes nothing else).
        static void Report(const Figures& Figures, const Configuration& Configuration, const std::wstring& OutputPath);

        // "llvmpipe, libx264 superfast, in-place, 0 bytes copied a frame: render
        // 13.1 ms, readback 1.1 ms, ... a frame; waited 0.4 s".
        static std::string SummaryLine(const Figures& Figures);
        static std::string Json(const Figures& Figures, const Configuration& Configuration,
                                const std::wstring& OutputPath);

    private:
        Clock::duration m_Submit{}, m_WaitForSample{}, m_WaitForWriter{};
    };

    // Everything Direct3D needs to draw the picture off screen: adapter,
    // device, render target, shaders, the full-frame quad and the constants.
    class Context
    {
    public:
        // 4 x 4, row-major, used with row vectors: p * World * View * Projection.
        struct alignas(16) Matrix
        {
            float m_Values[4][4];

            static Matrix Identity();
            Matrix Transpose() const;
        };

        struct Vertex
        {
            float Position[3];
            float Color[4];
        };

        // The memory image of the shader's ConstantBuffer.
        struct ConstantBufferData
        {
            Matrix World; // transposed, as the shader reads it
            Matrix View;
            Matrix Projection;
            float Time; // seconds
            float Padding[3];
        };

        // Builds the whole context; fails with ComException.
        explicit Context(const Configuration& Configuration);
        Context(const Context&) = delete;
        Context& operator=(const Context&) = delete;

        // Compiles an entry point of the embedded shader source for a target
        // profile; traces the compiler's messages, warnings included.
        static Microsoft::WRL::ComPtr<ID3DBlob> CompileShader(const char* EntryPoint, const char* Target);

        // Draws one frame at Time (seconds) into m_Texture.
        void Render(float Time);

        const Configuration& m_Configuration;
        Microsoft::WRL::ComPtr<IDXGIFactory1> m_DxgiFactory;
        Microsoft::WRL::ComPtr<IDXGIAdapter1> m_DxgiAdapter1;
        DXGI_ADAPTER_DESC1 m_DxgiAdapterDesc1 = {};
        Microsoft::WRL::ComPtr<ID3D11Device> m_Device;
        D3D_FEATURE_LEVEL m_FeatureLevel = {};
        Microsoft::WRL::ComPtr<ID3D11DeviceContext> m_DeviceContext;
        Microsoft::WRL::ComPtr<ID3D11Texture2D> m_Texture;
        Microsoft::WRL::ComPtr<ID3D11RenderTargetView> m_RenderTargetView;
        Microsoft::WRL::ComPtr<ID3D11VertexShader> m_VertexShader;
        Microsoft::WRL::ComPtr<ID3D11InputLayout> m_VertexInputLayout;
        Microsoft::WRL::ComPtr<ID3D11PixelShader> m_PixelShader;
        Microsoft::WRL::ComPtr<ID3D11Buffer> m_VertexBuffer;
        UINT m_IndexCount = 0;
        Microsoft::WRL::ComPtr<ID3D11Buffer> m_IndexBuffer;
        Microsoft::WRL::ComPtr<ID3D11Buffer> m_ConstantBuffer;
        Matrix m_World = {};
        Matrix m_View = {};
        Matrix m_Projection = {};
        ConstantBufferData m_ConstantBufferData = {};
    };

    Configuration m_Configuration;
    std::wstring m_OutputPath;
};

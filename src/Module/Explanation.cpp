#include "Explanation.h"

#include <cstdio>
#include <exception>
#include <utility>

#include <dxgi1_3.h>
#include <mferror.h>
#include <wrl/client.h>

#include "Format.h"

namespace {

// The lowest bit rate the encoder takes: it counts in whole kilobits.
constexpr uint32_t LowestBitrate = 1000;

// Failures whose words depend on nothing but the code.
struct Words
{
    HRESULT m_Result;
    const char* m_Text;
};

constexpr Words FixedWords[] = {
    {HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), "the output path's folder does not exist"},
    {HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), "a file or folder on the output path does not exist"},
    {HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED),
     "the output path may not be written: the file is read-only or owned by another user in a shared folder, or the "
     "folder takes no new files"},
    {HRESULT_FROM_WIN32(ERROR_OPEN_FAILED),
     "the output path names a pipe, device or socket; give the path of a regular file"},
    {HRESULT_FROM_WIN32(ERROR_DIRECTORY), "the output path names a folder; give a file name inside it"},
    {HRESULT_FROM_WIN32(ERROR_CANT_RESOLVE_FILENAME), "the output path's links form a loop or a chain too long"},
    {HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE), "the output path or one of its names is too long"},
    {HRESULT_FROM_WIN32(ERROR_DISK_FULL), "the disk is full; the output path was left as it was"},
    {HRESULT_FROM_WIN32(ERROR_WRITE_FAULT), "the disk failed to write the video; the output path was left as it was"},
    {HRESULT_FROM_WIN32(ERROR_CANCELLED), "the run was interrupted; the output path was left as it was"},
    {E_OUTOFMEMORY, "out of memory: try a smaller -Resolution, or free memory"},
    {MF_E_UNSUPPORTED_BYTESTREAM_TYPE,
     "no video container for this extension; use one of .mp4 .m4v .mov .mkv .3gp .3g2"},
    {MF_E_SINK_NO_SAMPLES_PROCESSED, "nothing to write: -Duration and -Rate give no frame"},
    {DXGI_ERROR_UNSUPPORTED, "the graphics adapter cannot run the tool's device"},
    {DXGI_ERROR_DEVICE_REMOVED, "the graphics device was lost during the run (driver reset or device removed)"},
    {DXGI_ERROR_DEVICE_HUNG, "the graphics device stopped responding during the run"},
    {DXGI_ERROR_DEVICE_RESET, "the graphics device was reset during the run"},
    {DXGI_ERROR_DRIVER_INTERNAL_ERROR, "the graphics driver failed"},
};

bool AnyAdapter()
{
    Microsoft::WRL::ComPtr<IDXGIFactory1> Factory;
    Microsoft::WRL::ComPtr<IDXGIAdapter1> Adapter;
    return SUCCEEDED(CreateDXGIFactory2(0, IID_PPV_ARGS(Factory.GetAddressOf()))) &&
           SUCCEEDED(Factory->EnumAdapters1(0, Adapter.GetAddressOf()));
}

std::string& CommandLineProblem()
{
    static std::string Problem;
    return Problem;
}

} // namespace

const char* const NoAdapterWords =
    "no graphics adapter at all: a graphics driver is missing (on Linux a Vulkan driver, such as Debian's "
    "mesa-vulkan-drivers)";

std::string ExplainFailure(HRESULT Result, const Application::Configuration& Configuration)
{
    if (Result == DXGI_ERROR_NOT_FOUND)
        return AnyAdapter() ? Format("no adapter %u; `ostrel -ea` lists them", Configuration.m_DxgiAdapterIndex)
                            : NoAdapterWords;
    if (Result == MF_E_INVALIDMEDIATYPE)
        return Format("the encoder refused the settings (%ux%u at %u bit/s): width and height must be even and at "
                      "most 16384, and -Bitrate, in bits per second, at least %u",
                      Configuration.m_FrameSizeW, Configuration.m_FrameSizeH, Configuration.m_Bitrate, LowestBitrate);
    if (Result == E_INVALIDARG)
        return Format("the settings were refused (%ux%u): width and height must be at most 16384; see `ostrel -?`",
                      Configuration.m_FrameSizeW, Configuration.m_FrameSizeH);
    for (const Words& Entry : FixedWords)
        if (Entry.m_Result == Result)
            return Entry.m_Text;
    return {};
}

void PrintExplanation(HRESULT Result, const Application::Configuration& Configuration)
{
    const std::string Text = ExplainFailure(Result, Configuration);
    if (Text.empty())
        return;
    std::fprintf(stderr, "Ostrel: %s\n", Text.c_str());
    std::fflush(stderr);
}

ProblemNote::ProblemNote(std::string Problem) : m_Exceptions(std::uncaught_exceptions())
{
    CommandLineProblem() = std::move(Problem);
}

ProblemNote::~ProblemNote()
{
    // Left by an exception, the note stays for the failure's words.
    if (std::uncaught_exceptions() == m_Exceptions)
        CommandLineProblem().clear();
}

void PrintCommandLineProblem()
{
    if (CommandLineProblem().empty())
        return;
    std::fprintf(stderr, "Ostrel: %s\n", std::exchange(CommandLineProblem(), std::string()).c_str());
    std::fflush(stderr);
}

// Where the encoding run's time went.

#include <cstdio>

#include <mfapi.h>
#include <shlwapi.h>
#include <wrl/client.h>

#include "Format.h"
#include "Statistics.h"
#include "WriterTimings.h"

namespace {

double Seconds(std::chrono::steady_clock::duration Duration) { return std::chrono::duration<double>(Duration).count(); }

// A wide text as a JSON string: ASCII only, everything else escaped, so that
// the file is valid whatever the names hold (bytes of a file name that were
// not UTF-8 come out as U+FFFD).
std::string JsonString(const std::wstring& Text)
{
    std::string Result = "\"";
    for (wchar_t Character : Text)
    {
        const auto Code = static_cast<uint32_t>(Character);
        if (Character == L'"' || Character == L'\\')
            Result += Format("\\%c", static_cast<char>(Character));
        else if (Code >= 0x20 && Code < 0x7F)
            Result += static_cast<char>(Character);
        else if (Code > 0x10FFFF || (Code >= 0xD800 && Code <= 0xDFFF))
            Result += "\\ufffd";
        else if (Code > 0xFFFF)
            Result += Format("\\u%04x\\u%04x", 0xD800 + ((Code - 0x10000) >> 10), 0xDC00 + ((Code - 0x10000) & 0x3FF));
        else
            Result += Format("\\u%04x", Code);
    }
    return Result + "\"";
}

bool StandardErrorIsConsole()
{
    DWORD Mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &Mode) != FALSE;
}

// The file that OSTREL_STATISTICS names, or an empty string.
std::wstring StatisticsPath()
{
    wchar_t Buffer[4096];
    const DWORD Length = GetEnvironmentVariableW(L"OSTREL_STATISTICS", Buffer, static_cast<DWORD>(std::size(Buffer)));
    return Length > 0 && Length < std::size(Buffer) ? std::wstring(Buffer, Length) : std::wstring();
}

// Whether two names lead to one file, through links, hard links or folders.
// A name that cannot be looked at is no file.
bool SameFile(const std::wstring& First, const std::wstring& Second)
{
    BY_HANDLE_FILE_INFORMATION Information[2] = {};
    const std::wstring* Names[2] = {&First, &Second};
    for (int Index = 0; Index < 2; ++Index)
    {
        const HANDLE File =
            CreateFileW(Names[Index]->c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_EXISTING, 0, nullptr);
        if (File == INVALID_HANDLE_VALUE)
            return false;
        const BOOL Known = GetFileInformationByHandle(File, &Information[Index]);
        CloseHandle(File);
        if (!Known)
            return false;
    }
    return Information[0].dwVolumeSerialNumber == Information[1].dwVolumeSerialNumber &&
           Information[0].nFileIndexHigh == Information[1].nFileIndexHigh &&
           Information[0].nFileIndexLow == Information[1].nFileIndexLow;
}

// Characters of the file's name kept in the new file's name: short enough
// that the whole fits a folder entry whatever the characters are.
constexpr size_t PartialStem = 32;
// Names tried for the new file before giving up.
constexpr unsigned PartialAttempts = 100;

// A hidden name beside Path for the new file: the start of Path's name, the
// process id and a count.
std::wstring PartialName(const std::wstring& Path, unsigned Attempt)
{
    const size_t NameAt = static_cast<size_t>(PathFindFileNameW(Path.c_str()) - Path.c_str());
    std::wstring Stem = Path.substr(NameAt, PartialStem);
    // Half a surrogate pair is no character.
    if (!Stem.empty() && Stem.back() >= 0xD800 && Stem.back() <= 0xDBFF)
        Stem.pop_back();
    return Path.substr(0, NameAt) + L"." + Stem + L"." + std::to_wstring(GetCurrentProcessId()) + L"." +
           std::to_wstring(Attempt) + L".partial";
}

// The figures replace the file whole or not at all: they go to a new file
// beside it, made for this process alone, which is flushed and then moved
// over the old one in one step. A failure at any step leaves the old file
// and removes the new one.
HRESULT WriteWholeFile(const std::wstring& Path, const std::string& Text)
{
    std::wstring Partial;
    HANDLE File = INVALID_HANDLE_VALUE;
    for (unsigned Attempt = 0; File == INVALID_HANDLE_VALUE; ++Attempt)
    {
        Partial = PartialName(Path, Attempt);
        File = CreateFileW(Partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        // A name left by an earlier process of the same id is passed over.
        if (File == INVALID_HANDLE_VALUE && (GetLastError() != ERROR_FILE_EXISTS || Attempt + 1 == PartialAttempts))
            return HRESULT_FROM_WIN32(GetLastError());
    }
    DWORD Written = 0;
    HRESULT Result = S_OK;
    if (!WriteFile(File, Text.data(), static_cast<DWORD>(Text.size()), &Written, nullptr) || Written != Text.size())
        Result = HRESULT_FROM_WIN32(GetLastError());
    if (SUCCEEDED(Result) && !FlushFileBuffers(File))
        Result = HRESULT_FROM_WIN32(GetLastError());
    if (!CloseHandle(File) && SUCCEEDED(Result))
        Result = HRESULT_FROM_WIN32(GetLastError());
    if (SUCCEEDED(Result) &&
        !MoveFileExW(Partial.c_str(), Path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        Result = HRESULT_FROM_WIN32(GetLastError());
    if (FAILED(Result))
        DeleteFileW(Partial.c_str());
    return Result;
}

// The bytes copied a frame, to the nearest byte.
unsigned long long BytesPerFrame(const Application::Statistics::Figures& Figures)
{
    const UINT64 Frames = Figures.m_Frames ? Figures.m_Frames : 1;
    return (Figures.m_BytesCopied + Frames / 2) / Frames;
}

} // namespace

Application::Statistics::Figures Application::Statistics::Collect(const wchar_t* Adapter, IMFSinkWriter* SinkWriter,
                                                                  DWORD StreamIndex, UINT32 Frames,
                                                                  double ElapsedSeconds) const
{
    Figures Result;
    Result.m_Adapter = Adapter;
    Result.m_Frames = Frames;
    Result.m_ElapsedSeconds = ElapsedSeconds;
    Result.m_Submit = Seconds(m_Submit);
    Result.m_WaitForSample = Seconds(m_WaitForSample);
    Result.m_WaitForWriter = Seconds(m_WaitForWriter);

    Microsoft::WRL::ComPtr<IMFAttributes> Timings;
    if (FAILED(SinkWriter->GetServiceForStream(StreamIndex, WriterTimings::Service, IID_PPV_ARGS(&Timings))))
        return Result;
    UINT64 Device = 0;
    Result.m_DeviceKnown = SUCCEEDED(Timings->GetUINT64(WriterTimings::DeviceTime, &Device)) && Device > 0;
    Result.m_Device = Device / 1e7;
    UINT64 Readback = 0, Convert = 0, Encode = 0, Mux = 0;
    Result.m_WriterStages = SUCCEEDED(Timings->GetUINT64(WriterTimings::ReadbackTime, &Readback)) &&
                            SUCCEEDED(Timings->GetUINT64(WriterTimings::ConvertTime, &Convert)) &&
                            SUCCEEDED(Timings->GetUINT64(WriterTimings::EncodeTime, &Encode)) &&
                            SUCCEEDED(Timings->GetUINT64(WriterTimings::MuxTime, &Mux));
    Result.m_Readback = Readback / 1e7;
    Result.m_Convert = Convert / 1e7;
    Result.m_Encode = Encode / 1e7;
    Result.m_Mux = Mux / 1e7;
    wchar_t Encoder[256] = {};
    if (SUCCEEDED(
            Timings->GetString(WriterTimings::Encoder, Encoder, static_cast<UINT32>(std::size(Encoder)), nullptr)))
        Result.m_Encoder = Encoder;
    wchar_t FramePath[32] = {};
    if (SUCCEEDED(Timings->GetString(WriterTimings::FramePath, FramePath, static_cast<UINT32>(std::size(FramePath)),
                                     nullptr)))
        Result.m_FramePath = FramePath;
    Result.m_BytesCopiedKnown = SUCCEEDED(Timings->GetUINT64(WriterTimings::BytesCopied, &Result.m_BytesCopied));
    return Result;
}

std::string Application::Statistics::SummaryLine(const Figures& Figures)
{
    const double Frames = Figures.m_Frames ? Figures.m_Frames : 1;
    auto PerFrame = [&](double Seconds) { return 1000.0 * Seconds / Frames; };
    std::string Line = Format("%ls", Figures.m_Adapter.c_str());
    if (!Figures.m_Encoder.empty())
        Line += Format(", %ls", Figures.m_Encoder.c_str());
    if (!Figures.m_FramePath.empty())
        Line += Format(", %ls", Figures.m_FramePath.c_str());
    if (Figures.m_BytesCopiedKnown)
        Line += Format(", %llu bytes copied a frame", BytesPerFrame(Figures));
    Line += Format(": render %.1f ms", PerFrame(Figures.Render()));
    if (Figures.m_WriterStages)
        Line += Format(", readback %.1f ms, convert %.1f ms, encode %.1f ms, mux %.1f ms", PerFrame(Figures.m_Readback),
                       PerFrame(Figures.m_Convert), PerFrame(Figures.m_Encode), PerFrame(Figures.m_Mux));
    return Line + Format(" a frame; waited %.1f s", Figures.m_WaitForSample + Figures.m_WaitForWriter);
}

std::string Application::Statistics::Json(const Figures& Figures, const Configuration& Configuration,
                                          const std::wstring& OutputPath)
{
    const double Frames = Figures.m_Frames ? Figures.m_Frames : 1;
    auto Milliseconds = [&](double Seconds) { return Format("%.3f", 1000.0 * Seconds / Frames); };
    std::string Text = "{\n";
    Text += Format("  \"version\": \"%hs\",\n", OSTREL_VERSION);
    Text += "  \"adapter\": " + JsonString(Figures.m_Adapter) + ",\n";
    Text +=
        "  \"encoder\": " + (Figures.m_Encoder.empty() ? std::string("null") : JsonString(Figures.m_Encoder)) + ",\n";
    Text += "  \"output\": " + JsonString(OutputPath) + ",\n";
    Text += Format("  \"adapter_index\": %u,\n  \"width\": %u,\n  \"height\": %u,\n", Configuration.m_DxgiAdapterIndex,
                   Configuration.m_FrameSizeW, Configuration.m_FrameSizeH);
    Text += Format("  \"frame_rate\": [%u, %u],\n  \"duration\": %d,\n  \"bitrate\": %u,\n", Configuration.m_FrameRateN,
                   Configuration.m_FrameRateD, Configuration.m_Duration, Configuration.m_Bitrate);
    Text += Format("  \"frames\": %u,\n  \"elapsed_seconds\": %.3f,\n", Figures.m_Frames, Figures.m_ElapsedSeconds);
    Text +=
        "  \"frame_path\": " + (Figures.m_FramePath.empty() ? std::string("null") : JsonString(Figures.m_FramePath)) +
        ",\n";
    Text += "  \"bytes_copied_per_frame\": " +
            (Figures.m_BytesCopiedKnown ? Format("%llu", BytesPerFrame(Figures)) : std::string("null")) + ",\n";
    Text += "  \"milliseconds_per_frame\": {\"render\": " + Milliseconds(Figures.Render()) +
            ", \"render_on_device\": " + (Figures.m_DeviceKnown ? "true" : "false") +
            ", \"submit\": " + Milliseconds(Figures.m_Submit);
    if (Figures.m_WriterStages)
        Text += ", \"readback\": " + Milliseconds(Figures.m_Readback) +
                ", \"convert\": " + Milliseconds(Figures.m_Convert) +
                ", \"encode\": " + Milliseconds(Figures.m_Encode) + ", \"mux\": " + Milliseconds(Figures.m_Mux);
    Text += "},\n";
    Text += Format("  \"waited_seconds\": {\"sample\": %.3f, \"writer\": %.3f}\n}\n", Figures.m_WaitForSample,
                   Figures.m_WaitForWriter);
    return Text;
}

void Application::Statistics::Report(const Figures& Figures, const Configuration& Configuration,
                                     const std::wstring& OutputPath)
{
    if (StandardErrorIsConsole())
    {
        std::fprintf(stderr, "%s\n", SummaryLine(Figures).c_str());
        std::fflush(stderr);
    }
    const std::wstring Path = StatisticsPath();
    if (Path.empty())
        return;
    // The figures never take the place of the video they describe.
    if (Path == OutputPath || SameFile(Path, OutputPath))
    {
        std::fprintf(stderr, "%s\n",
                     Format("Ostrel: statistics not written to %ls: that is the output video", Path.c_str()).c_str());
        std::fflush(stderr);
        return;
    }
    const HRESULT Result = WriteWholeFile(Path, Json(Figures, Configuration, OutputPath));
    if (FAILED(Result))
    {
        std::fprintf(
            stderr, "%s\n",
            Format("Ostrel: statistics not written to %ls: 0x%08X", Path.c_str(), static_cast<unsigned>(Result))
                .c_str());
        std::fflush(stderr);
    }
}

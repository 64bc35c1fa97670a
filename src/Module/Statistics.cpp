// Where the encoding run's time went.

#include <algorithm>
#include <cstdio>
#include <cstring>

#include <combaseapi.h>
#include <mfapi.h>
#include <ostrel/sinkwriter.h>
#include <shlwapi.h>
#include <wrl/client.h>

#include "Format.h"
#include "Statistics.h"

namespace {

double Seconds(std::chrono::steady_clock::duration Duration) { return std::chrono::duration<double>(Duration).count(); }

// The process's processor time so far, user and kernel, in 100-ns units.
bool ProcessorTime(UINT64& Time)
{
    FILETIME Creation = {}, Exit = {}, Kernel = {}, User = {};
    if (!GetProcessTimes(GetCurrentProcess(), &Creation, &Exit, &Kernel, &User))
        return false;
    auto Units = [](const FILETIME& Value) { return (UINT64{Value.dwHighDateTime} << 32) | Value.dwLowDateTime; };
    Time = Units(Kernel) + Units(User);
    return true;
}

// What the file system says of the file at Path.
bool FileInformation(const std::wstring& Path, BY_HANDLE_FILE_INFORMATION& Information)
{
    const HANDLE File = CreateFileW(Path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    if (File == INVALID_HANDLE_VALUE)
        return false;
    const BOOL Known = GetFileInformationByHandle(File, &Information);
    CloseHandle(File);
    return Known != FALSE;
}

// The size of the file at Path.
bool FileSize(const std::wstring& Path, UINT64& Size)
{
    BY_HANDLE_FILE_INFORMATION Information = {};
    if (!FileInformation(Path, Information))
        return false;
    Size = (UINT64{Information.nFileSizeHigh} << 32) | Information.nFileSizeLow;
    return true;
}

// The file that OSTREL_STATISTICS names, or an empty string.
std::wstring StatisticsPath()
{
    wchar_t Buffer[4096];
    const DWORD Length = GetEnvironmentVariableW(L"OSTREL_STATISTICS", Buffer, static_cast<DWORD>(std::size(Buffer)));
    return Length > 0 && Length < std::size(Buffer) ? std::wstring(Buffer, Length) : std::wstring();
}

} // namespace

bool Application::Statistics::MeasuresQuality()
{
    wchar_t Value[4] = {};
    return GetEnvironmentVariableW(L"OSTREL_QUALITY", Value, static_cast<DWORD>(std::size(Value))) == 1 &&
           Value[0] == L'1';
}

namespace {

// Whether two names lead to one file, through links, hard links or folders.
// A name that cannot be looked at is no file.
bool SameFile(const std::wstring& First, const std::wstring& Second)
{
    BY_HANDLE_FILE_INFORMATION Information[2] = {};
    return FileInformation(First, Information[0]) && FileInformation(Second, Information[1]) &&
           Information[0].dwVolumeSerialNumber == Information[1].dwVolumeSerialNumber &&
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
    UINT64 Cpu = 0;
    Result.m_CpuKnown = m_CpuKnown && ProcessorTime(Cpu);
    Result.m_Cpu = Result.m_CpuKnown ? (Cpu - m_CpuAtStart) / 1e7 : 0.0;
    MF_SINK_WRITER_STATISTICS Counts = {};
    Counts.cb = sizeof Counts;
    Result.m_BytesMuxedKnown =
        SUCCEEDED(SinkWriter->GetStatistics(StreamIndex, &Counts)) && Counts.qwByteCountProcessed > 0;
    Result.m_BytesMuxed = Counts.qwByteCountProcessed;

    Microsoft::WRL::ComPtr<IMFAttributes> Timings;
    if (FAILED(SinkWriter->GetServiceForStream(StreamIndex, OSTREL_SINK_WRITER_TIMINGS, IID_PPV_ARGS(&Timings))))
        return Result;
    UINT64 Device = 0;
    Result.m_DeviceKnown = SUCCEEDED(Timings->GetUINT64(OSTREL_SINK_WRITER_DEVICE_TIME, &Device)) && Device > 0;
    Result.m_Device = Device / 1e7;
    UINT64 Readback = 0, Convert = 0, Encode = 0, Mux = 0;
    Result.m_WriterStages = SUCCEEDED(Timings->GetUINT64(OSTREL_SINK_WRITER_READBACK_TIME, &Readback)) &&
                            SUCCEEDED(Timings->GetUINT64(OSTREL_SINK_WRITER_CONVERT_TIME, &Convert)) &&
                            SUCCEEDED(Timings->GetUINT64(OSTREL_SINK_WRITER_ENCODE_TIME, &Encode)) &&
                            SUCCEEDED(Timings->GetUINT64(OSTREL_SINK_WRITER_MUX_TIME, &Mux));
    Result.m_Readback = Readback / 1e7;
    Result.m_Convert = Convert / 1e7;
    Result.m_Encode = Encode / 1e7;
    Result.m_Mux = Mux / 1e7;
    wchar_t Encoder[256] = {};
    if (SUCCEEDED(
            Timings->GetString(OSTREL_SINK_WRITER_ENCODER, Encoder, static_cast<UINT32>(std::size(Encoder)), nullptr)))
        Result.m_Encoder = Encoder;
    wchar_t FramePath[32] = {};
    if (SUCCEEDED(Timings->GetString(OSTREL_SINK_WRITER_FRAME_PATH, FramePath,
                                     static_cast<UINT32>(std::size(FramePath)), nullptr)))
        Result.m_FramePath = FramePath;
    Result.m_BytesCopiedKnown = SUCCEEDED(Timings->GetUINT64(OSTREL_SINK_WRITER_BYTES_COPIED, &Result.m_BytesCopied));
    UINT8* Latencies = nullptr;
    UINT32 LatenciesSize = 0;
    if (SUCCEEDED(Timings->GetAllocatedBlob(OSTREL_SINK_WRITER_LATENCIES, &Latencies, &LatenciesSize)))
    {
        std::vector<double> Values(LatenciesSize / sizeof(UINT64));
        for (size_t Index = 0; Index < Values.size(); ++Index)
        {
            UINT64 Value = 0;
            std::memcpy(&Value, Latencies + Index * sizeof Value, sizeof Value);
            Values[Index] = Value / 1e7;
        }
        CoTaskMemFree(Latencies);
        Result.m_LatencyKnown = !Values.empty();
        Result.m_Latency = PercentilesOf(std::move(Values));
    }
    Result.m_PsnrKnown = SUCCEEDED(Timings->GetDouble(OSTREL_SINK_WRITER_PSNR_Y, &Result.m_PsnrY)) &&
                         SUCCEEDED(Timings->GetDouble(OSTREL_SINK_WRITER_PSNR_AVERAGE, &Result.m_PsnrAverage));
    Result.m_SsimKnown = SUCCEEDED(Timings->GetDouble(OSTREL_SINK_WRITER_SSIM, &Result.m_Ssim));
    return Result;
}

Application::Statistics::Statistics() : m_CpuKnown(ProcessorTime(m_CpuAtStart)) {}

void Application::Statistics::Report(Figures Figures, const Configuration& Configuration,
                                     const std::wstring& OutputPath)
{
    Figures.m_FrameRate = static_cast<double>(Configuration.m_FrameRateN) / Configuration.m_FrameRateD;
    if (!Figures.m_Interrupted)
        Figures.m_FileBytesKnown = FileSize(OutputPath, Figures.m_FileBytes);
    if (const size_t Columns = ConsoleColumns())
    {
        for (const std::string& Line : SummaryLines(Figures, std::min<size_t>(Columns, 80)))
            std::fprintf(stderr, "%s\n", Line.c_str());
        std::fflush(stderr);
    }
    const std::wstring Path = StatisticsPath();
    // Only a completed run writes its figures.
    if (Path.empty() || Figures.m_Interrupted)
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

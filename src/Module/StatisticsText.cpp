// The run's figures as text: the summary on the terminal and the JSON file.

#include <algorithm>
#include <cmath>

#include "Format.h"
#include "Statistics.h"

namespace {

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

// The bytes copied a frame, to the nearest byte.
unsigned long long BytesPerFrame(const Application::Statistics::Figures& Figures)
{
    const UINT64 Frames = Figures.m_Frames ? Figures.m_Frames : 1;
    return (Figures.m_BytesCopied + Frames / 2) / Frames;
}

// 1851236 as "1,851,236".
std::string Grouped(UINT64 Value)
{
    std::string Digits = Format("%llu", static_cast<unsigned long long>(Value));
    for (size_t At = Digits.size(); At > 3; At -= 3)
        Digits.insert(At - 3, ",");
    return Digits;
}

// Items of a list as words: a comma after each but the last.
std::vector<std::string> Listed(std::vector<std::string> Items)
{
    for (size_t Index = 0; Index + 1 < Items.size(); ++Index)
        Items[Index] += ",";
    return Items;
}

// Adds Words to Lines, a space between two, a new line indented by two
// where the next word would pass Width.
void AddWrapped(std::vector<std::string>& Lines, const std::vector<std::string>& Words, size_t Width)
{
    std::string Line;
    for (const std::string& Word : Words)
    {
        if (!Line.empty() && Line.size() + 1 + Word.size() > Width)
        {
            Lines.push_back(Line);
            Line = "  " + Word;
        }
        else
            Line += (Line.empty() ? "" : " ") + Word;
    }
    if (!Line.empty())
        Lines.push_back(Line);
}

} // namespace

Application::Statistics::Percentiles Application::Statistics::PercentilesOf(std::vector<double> Values)
{
    Percentiles Result;
    if (Values.empty())
        return Result;
    std::sort(Values.begin(), Values.end());
    // The smallest value that at least P percent of the values do not pass.
    auto Rank = [&](double Percent) {
        const auto Index = static_cast<size_t>(std::ceil(Percent / 100.0 * Values.size()));
        return Values[std::clamp<size_t>(Index, 1, Values.size()) - 1];
    };
    Result.m_P50 = Rank(50);
    Result.m_P90 = Rank(90);
    Result.m_P99 = Rank(99);
    Result.m_Max = Values.back();
    return Result;
}

std::vector<std::string> Application::Statistics::SummaryLines(const Figures& Figures, size_t Width)
{
    const double Frames = Figures.m_Frames ? Figures.m_Frames : 1;
    auto PerFrame = [&](double Seconds) { return 1000.0 * Seconds / Frames; };
    std::vector<std::string> Lines;

    std::vector<std::string> Run = {
        Format("%s%u frames written in %.2f s:", Figures.m_Interrupted ? "interrupted: " : "", Figures.m_Frames,
               Figures.m_ElapsedSeconds)};
    if (Figures.m_ElapsedSeconds > 0)
        Run.push_back(Format("%.1f fps", Figures.Fps()));
    Run.push_back(Format("%.2f ms a frame", PerFrame(Figures.m_ElapsedSeconds)));
    if (Figures.Speed() > 0)
        Run.push_back(Format("speed %.2fx", Figures.Speed()));
    std::vector<std::string> RunWords = Listed({Run.begin() + 1, Run.end()});
    RunWords.insert(RunWords.begin(), Run.front());
    AddWrapped(Lines, RunWords, Width);

    std::vector<std::string> Output;
    if (Figures.m_BytesMuxedKnown && Figures.Bitrate() > 0)
        Output.push_back(Format("bit rate %.2f Mbit/s", Figures.Bitrate() / 1e6));
    if (Figures.m_FileBytesKnown)
        Output.push_back("file " + Grouped(Figures.m_FileBytes) + " bytes");
    AddWrapped(Lines, Listed(Output), Width);

    std::vector<std::string> Path = {Format("%ls", Figures.m_Adapter.c_str())};
    if (!Figures.m_Encoder.empty())
        Path.push_back(Format("%ls", Figures.m_Encoder.c_str()));
    if (!Figures.m_FramePath.empty())
        Path.push_back(Format("%ls", Figures.m_FramePath.c_str()));
    if (Figures.m_BytesCopiedKnown)
        Path.push_back(Format("%llu bytes copied a frame", BytesPerFrame(Figures)));
    AddWrapped(Lines, Listed(Path), Width);

    std::vector<std::string> Stages = {Format("render %.1f ms", PerFrame(Figures.Render()))};
    if (Figures.m_WriterStages)
        for (const auto& [Name, Seconds] : {std::pair{"readback", Figures.m_Readback},
                                            {"convert", Figures.m_Convert},
                                            {"encode", Figures.m_Encode},
                                            {"mux", Figures.m_Mux}})
            Stages.push_back(Format("%s %.1f ms", Name, PerFrame(Seconds)));
    Stages = Listed(Stages);
    Stages.back() += " a frame;";
    Stages.push_back(Format("waited %.1f s", Figures.m_WaitForSample + Figures.m_WaitForWriter));
    AddWrapped(Lines, Stages, Width);

    std::vector<std::string> Costs;
    if (Figures.m_LatencyKnown)
    {
        const Percentiles& Latency = Figures.m_Latency;
        Costs =
            Listed({Format("latency p50 %.1f ms", 1000 * Latency.m_P50), Format("p90 %.1f ms", 1000 * Latency.m_P90),
                    Format("p99 %.1f ms", 1000 * Latency.m_P99), Format("max %.1f ms", 1000 * Latency.m_Max)});
        if (Figures.m_CpuKnown)
            Costs.back() += ";";
    }
    if (Figures.m_CpuKnown)
        Costs.push_back(Format("CPU %.1f ms a frame", PerFrame(Figures.m_Cpu)));
    AddWrapped(Lines, Costs, Width);

    std::vector<std::string> Quality;
    if (Figures.m_PsnrKnown)
        Quality = {Format("PSNR Y %.2f dB", Figures.m_PsnrY), Format("average %.2f dB", Figures.m_PsnrAverage)};
    if (Figures.m_SsimKnown)
        Quality.push_back(Format("SSIM %.4f", Figures.m_Ssim));
    AddWrapped(Lines, Listed(Quality), Width);
    return Lines;
}

std::string Application::Statistics::Json(const Figures& Figures, const Configuration& Configuration,
                                          const std::wstring& OutputPath)
{
    const double Frames = Figures.m_Frames ? Figures.m_Frames : 1;
    auto Milliseconds = [&](double Seconds) { return Format("%.3f", 1000.0 * Seconds / Frames); };
    auto Known = [](bool IsKnown, const std::string& Text) { return IsKnown ? Text : std::string("null"); };
    std::string Text = "{\n";
    Text += Format("  \"version\": \"%hs\",\n", OSTREL_VERSION);
    Text += "  \"adapter\": " + JsonString(Figures.m_Adapter) + ",\n";
    Text += "  \"encoder\": " + Known(!Figures.m_Encoder.empty(), JsonString(Figures.m_Encoder)) + ",\n";
    Text += "  \"output\": " + JsonString(OutputPath) + ",\n";
    Text += Format("  \"adapter_index\": %u,\n  \"width\": %u,\n  \"height\": %u,\n", Configuration.m_DxgiAdapterIndex,
                   Configuration.m_FrameSizeW, Configuration.m_FrameSizeH);
    Text += Format("  \"frame_rate\": [%u, %u],\n  \"duration\": %d,\n  \"bitrate\": %u,\n", Configuration.m_FrameRateN,
                   Configuration.m_FrameRateD, Configuration.m_Duration, Configuration.m_Bitrate);
    Text += Format("  \"frames\": %u,\n  \"elapsed_seconds\": %.3f,\n", Figures.m_Frames, Figures.m_ElapsedSeconds);
    Text += Format("  \"fps\": %.3f,\n  \"speed\": %.3f,\n", Figures.Fps(), Figures.Speed());
    Text += "  \"bitrate_achieved\": " + Known(Figures.m_BytesMuxedKnown, Format("%.0f", Figures.Bitrate())) + ",\n";
    Text += "  \"file_bytes\": " +
            Known(Figures.m_FileBytesKnown, Format("%llu", static_cast<unsigned long long>(Figures.m_FileBytes))) +
            ",\n";
    Text += "  \"frame_path\": " + Known(!Figures.m_FramePath.empty(), JsonString(Figures.m_FramePath)) + ",\n";
    Text +=
        "  \"bytes_copied_per_frame\": " + Known(Figures.m_BytesCopiedKnown, Format("%llu", BytesPerFrame(Figures))) +
        ",\n";
    Text += Format("  \"render_on_device\": %s,\n", Figures.m_DeviceKnown ? "true" : "false");
    Text += "  \"milliseconds_per_frame\": {\"render\": " + Milliseconds(Figures.Render()) +
            ", \"submit\": " + Milliseconds(Figures.m_Submit);
    if (Figures.m_WriterStages)
        Text += ", \"readback\": " + Milliseconds(Figures.m_Readback) +
                ", \"convert\": " + Milliseconds(Figures.m_Convert) +
                ", \"encode\": " + Milliseconds(Figures.m_Encode) + ", \"mux\": " + Milliseconds(Figures.m_Mux);
    Text += "},\n";
    const Percentiles& Latency = Figures.m_Latency;
    Text += "  \"latency_ms\": " +
            Known(Figures.m_LatencyKnown,
                  Format("{\"p50\": %.3f, \"p90\": %.3f, \"p99\": %.3f, \"max\": %.3f}", 1000 * Latency.m_P50,
                         1000 * Latency.m_P90, 1000 * Latency.m_P99, 1000 * Latency.m_Max)) +
            ",\n";
    Text += "  \"cpu_ms_per_frame\": " + Known(Figures.m_CpuKnown, Milliseconds(Figures.m_Cpu)) + ",\n";
    // Only what the encoder measures.
    std::string Quality;
    if (Figures.m_PsnrKnown)
        Quality = Format("\"psnr_y\": %.3f, \"psnr_average\": %.3f", Figures.m_PsnrY, Figures.m_PsnrAverage);
    if (Figures.m_SsimKnown)
        Quality += Format("%s\"ssim\": %.5f", Quality.empty() ? "" : ", ", Figures.m_Ssim);
    if (!Quality.empty())
        Text += "  \"quality\": {" + Quality + "},\n";
    Text += Format("  \"waited_seconds\": {\"sample\": %.3f, \"writer\": %.3f}\n}\n", Figures.m_WaitForSample,
                   Figures.m_WaitForWriter);
    return Text;
}

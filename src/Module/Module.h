// The application: entry point, command-line configuration and run modes.
#pragma once

#include <string>
#include <vector>

#include <windows.h>

// All command-line arguments, element 0 the program path.
class Arguments : public std::vector<std::wstring>
{
public:
    // Copies the argument at Index into Value and advances Index; false past
    // the last argument, changing nothing.
    bool Next(size_t& Index, std::wstring& Value) const;
};

// Splits an option argument: a leading dash, the name up to the first colon,
// the value after it. Leaves Name and Value alone for a non-option.
bool ParseOption(const std::wstring& Argument, std::wstring& Name, std::wstring& Value);

// printf-style formatting of narrow text through an 8,192-character buffer.
std::string Format(const char* Format, ...);

// Writes one line to standard output, then flushes it.
void PrintLine(const std::string& Line);

void PrintSyntax();

// Scope of the thread's Windows Runtime initialisation.
class RoInitializeWrapper
{
public:
    explicit RoInitializeWrapper(RO_INIT_TYPE Type);
    ~RoInitializeWrapper();
    RoInitializeWrapper(const RoInitializeWrapper&) = delete;
    RoInitializeWrapper& operator=(const RoInitializeWrapper&) = delete;

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
    // path was given. Prints its own failures and returns normally.
    void Do();

    Configuration m_Configuration;
    std::wstring m_OutputPath;
};

// The application: command-line configuration and the encoding run.
#pragma once

#include <cstdint>
#include <string>

#include <windows.h>

#include "Arguments.h"

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

    // A status line on standard error while the run goes (Progress.h).
    class Progress;

    // Where the run's time went (Statistics.h).
    class Statistics;

    // Everything Direct3D needs to draw the picture off screen (Context.h).
    class Context;

    Configuration m_Configuration;
    std::wstring m_OutputPath;
};

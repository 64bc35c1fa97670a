// The configuration taken from the command line.

#include "Application.h"
#include "Format.h"
#include "RoInitializeWrapper.h"

#include "Explanation.h"
#include "diagnostics/Check.h"

RoInitializeWrapper::RoInitializeWrapper(RO_INIT_TYPE Type) : m_Result(RoInitialize(Type)) {}

RoInitializeWrapper::~RoInitializeWrapper()
{
    if (SUCCEEDED(m_Result))
        RoUninitialize();
}

namespace {

bool NameIs(const std::wstring& Name, const wchar_t* Long, const wchar_t* Short = nullptr)
{
    return _wcsicmp(Name.c_str(), Long) == 0 || (Short && _wcsicmp(Name.c_str(), Short) == 0);
}

// What the option Name takes, for a command line that gave it something else.
std::string WhatItTakes(const std::wstring& Name)
{
    if (Name.empty())
        return "the output path is empty: give the path of the video to write";
    if (NameIs(Name, L"AdapterIndex", L"ai"))
        return "-AdapterIndex takes a number: -AdapterIndex <index>";
    if (NameIs(Name, L"Resolution", L"re"))
        return "-Resolution takes two numbers above 0: -Resolution <width> <height>";
    if (NameIs(Name, L"Rate", L"ra"))
        return "-Rate takes a frame rate above 0: -Rate <numerator>[/<denominator>]";
    if (NameIs(Name, L"Duration", L"d"))
        return "-Duration takes a number of seconds: -Duration <duration>";
    if (NameIs(Name, L"Bitrate", L"b"))
        return "-Bitrate takes a number of bits per second: -Bitrate <bitrate>";
    return {};
}

} // namespace

Application::Application(const Arguments& Arguments)
{
    size_t Index = 1;
    std::wstring Argument, Name, Value;
    while (Arguments.Next(Index, Argument))
    {
        Name.clear();
        Value.clear();
        if (!ParseOption(Argument, Name, Value))
        {
            if (m_OutputPath.empty())
            {
                const ProblemNote Problem(WhatItTakes(L""));
                // An empty argument names no file: a bad command line, where
                // no argument at all asks for the syntax.
                CheckCondition(!Argument.empty(), E_INVALIDARG);
                m_OutputPath = Argument;
            }
            else
                PrintLine(Format("Warning, command line argument not recognized: %ls", Argument.c_str()));
            continue;
        }
        const ProblemNote Problem(WhatItTakes(Name));
        if (NameIs(Name, L"DisableDebugOutput") || NameIs(Name, L"Debug"))
            continue;
        if (NameIs(Name, L"AdapterIndex", L"ai"))
        {
            CheckCondition(Arguments.Next(Index, Value), E_INVALIDARG);
            m_Configuration.m_DxgiAdapterIndex = static_cast<uint32_t>(_wtoi(Value.c_str()));
        }
        else if (NameIs(Name, L"Resolution", L"re"))
        {
            CheckCondition(Arguments.Next(Index, Value), E_INVALIDARG);
            m_Configuration.m_FrameSizeW = static_cast<uint32_t>(_wtoi(Value.c_str()));
            CheckCondition(Arguments.Next(Index, Value), E_INVALIDARG);
            m_Configuration.m_FrameSizeH = static_cast<uint32_t>(_wtoi(Value.c_str()));
            CheckCondition(m_Configuration.m_FrameSizeW > 0 && m_Configuration.m_FrameSizeH > 0, E_INVALIDARG);
        }
        else if (NameIs(Name, L"Rate", L"ra"))
        {
            CheckCondition(Arguments.Next(Index, Value), E_INVALIDARG);
            const size_t Slash = Value.find(L'/');
            if (Slash != std::wstring::npos)
            {
                m_Configuration.m_FrameRateN = static_cast<uint32_t>(_wtoi(Value.substr(0, Slash).c_str()));
                m_Configuration.m_FrameRateD = static_cast<uint32_t>(_wtoi(Value.substr(Slash + 1).c_str()));
            }
            else
            {
                m_Configuration.m_FrameRateN = static_cast<uint32_t>(_wtoi(Value.c_str()));
                m_Configuration.m_FrameRateD = 1;
            }
            CheckCondition(m_Configuration.m_FrameRateN > 0 && m_Configuration.m_FrameRateD > 0, E_INVALIDARG);
        }
        else if (NameIs(Name, L"Duration", L"d"))
        {
            CheckCondition(Arguments.Next(Index, Value), E_INVALIDARG);
            m_Configuration.m_Duration = _wtoi(Value.c_str());
        }
        else if (NameIs(Name, L"Bitrate", L"b"))
        {
            CheckCondition(Arguments.Next(Index, Value), E_INVALIDARG);
            m_Configuration.m_Bitrate = static_cast<uint32_t>(_wtoi(Value.c_str()));
        }
        else
            PrintLine(Format("Warning, command line option argument not recognized: %ls", Name.c_str()));
    }
    // The run counts frames with MulDiv: a count it cannot represent (-1) or a
    // negative one would make the loop ask for billions of frames. Without an
    // output path there is no run, and the syntax is all that is printed.
    const ProblemNote Problem("-Duration and -Rate give fewer frames than none, or more than a run can count");
    if (!m_OutputPath.empty())
        CheckCondition(MulDiv(m_Configuration.m_Duration, m_Configuration.m_FrameRateN, m_Configuration.m_FrameRateD) >=
                           0,
                       E_INVALIDARG);
}

// Console text: formatting, lines and the syntax.

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <iostream>

#include <windows.h>

#include "Format.h"

std::string Format(const char* FormatText, ...)
{
    char Buffer[8192];
    va_list Arguments;
    va_start(Arguments, FormatText);
    _vsnprintf_s(Buffer, std::size(Buffer), _TRUNCATE, FormatText, Arguments);
    va_end(Arguments);
    return Buffer;
}

namespace {

// The error of the first line that standard output lost, 0 while none was.
int StandardOutputError = 0;

} // namespace

void PrintLine(const std::string& Line)
{
    errno = 0;
    std::cout << Line << std::endl;
    // The stream forgets why it failed; the reason is kept for the end.
    if (!std::cout && StandardOutputError == 0)
        StandardOutputError = errno ? errno : EIO;
}

bool FinishStandardOutput()
{
    errno = 0;
    std::cout.flush();
    const bool Flushed = std::fflush(stdout) == 0;
    if (Flushed && std::cout && !std::ferror(stdout))
        return true;
    const int Error = StandardOutputError ? StandardOutputError : errno ? errno : EIO;
    std::fprintf(stderr, "Ostrel: standard output: %s\n", std::strerror(Error));
    std::fflush(stderr);
    return false;
}

void PrintSyntax()
{
    static const char* const Lines[] = {
        "Syntax: Ostrel [options] <output-path>",
        "",
        "Options: ",
        "  -DisableDebugOutput - Disable forward of debug output to console output in debug mode (should appear "
        "before -Debug)",
        "  -Debug[:<Normal|Full|<Value>>] - Enable self-debugging capability with specific minidump type",
        "  -EnumerateAdapters - Enumerate DXGI adapters and exit",
        "  -AdapterIndex <index> - Specify DXGI adapter index (default is 0)",
        "  -Resolution <width> <height> - Specify resolution of generated video (default is 1920x1080)",
        "  -Rate <frame-rate-numerator>[/<frame-rate-denominator>] - Specify frame rate of generated video (default "
        "is 60)",
        "  -Duration <duration> - Specify duration of generated video in seconds (default is 60)",
        "  -Bitrate <bitrate> - Specify bitrate of generated video in seconds (default is 10 MBps)",
    };
    for (const char* Line : Lines)
        PrintLine(Line);
}

void PrintVersion() { PrintLine(Format("Ostrel %hs", OSTREL_VERSION)); }

size_t ConsoleColumns()
{
    const HANDLE Error = GetStdHandle(STD_ERROR_HANDLE);
    DWORD Mode = 0;
    if (!GetConsoleMode(Error, &Mode))
        return 0;
    CONSOLE_SCREEN_BUFFER_INFO Information = {};
    // A console that does not tell its size is taken as the usual 80.
    if (!GetConsoleScreenBufferInfo(Error, &Information))
        return 80;
    const int Columns = Information.srWindow.Right - Information.srWindow.Left + 1;
    return Columns > 0 ? static_cast<size_t>(Columns) : 80;
}

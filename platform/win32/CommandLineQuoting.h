// The reverse of CommandLineToArgvW: quoting one argument so that the split
// gives it back unchanged.
#pragma once

#include <string>

namespace Platform {

// Appends Argument to CommandLine, quoted as needed. The program path (the
// first argument) is split without backslash escapes: it is wrapped in quotes
// and a quote in it is doubled.
void AppendCommandLineArgument(std::wstring& CommandLine, const std::wstring& Argument, bool ProgramPath = false);

} // namespace Platform

// The reverse of CommandLineToArgvW: quoting one argument so that the split
// gives it back unchanged.
#pragma once

#include <string>

namespace Platform {

// Appends Argument to CommandLine, quoted as needed. The program path (the
// first argument) is split without escapes, so it is only wrapped in quotes.
void AppendCommandLineArgument(std::wstring& CommandLine, const std::wstring& Argument, bool ProgramPath = false);

} // namespace Platform

// The command line as the tool reads it: the argument list and the one rule
// for option arguments, shared by the application and the self-debugging
// facility.
#pragma once

#include <string>
#include <vector>

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

// Splitting a command line into arguments.
#pragma once

#include "minwindef.h"

// Splits CommandLine by the Windows rules into an array of NumArgs strings,
// freed with one LocalFree; an empty command line gives the program path.
// Returns null with the last error set on failure.
LPWSTR* CommandLineToArgvW(LPCWSTR CommandLine, int* NumArgs);

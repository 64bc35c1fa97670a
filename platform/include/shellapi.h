// Splitting a command line into arguments.
#pragma once

#include <minwindef.h>

// Splits CommandLine by the Windows rules into an array of NumArgs strings,
// freed with one LocalFree; an empty command line gives the program path.
// The program path is read up to a blank, or when quoted up to the closing
// quote; a doubled quote in it stands for a quote, which paths here may hold.
// Returns null with the last error set on failure.
LPWSTR* CommandLineToArgvW(LPCWSTR CommandLine, int* NumArgs);

// The process command line, environment and standard handles.
#pragma once

#include <minwindef.h>

// The command line as one string, each argument quoted by the Windows rules so
// that CommandLineToArgvW gives the process's arguments back.
LPWSTR GetCommandLineW();

// The standard handles: input, output and error.
constexpr DWORD STD_INPUT_HANDLE = static_cast<DWORD>(-10);
constexpr DWORD STD_OUTPUT_HANDLE = static_cast<DWORD>(-11);
constexpr DWORD STD_ERROR_HANDLE = static_cast<DWORD>(-12);

// The handle of a standard stream; INVALID_HANDLE_VALUE with
// ERROR_INVALID_PARAMETER for another value.
HANDLE GetStdHandle(DWORD StdHandle);

// Copies the value of an environment variable into Buffer (Size characters):
// its length without the terminator when it fits, else the size it needs
// with the terminator; 0 with ERROR_ENVVAR_NOT_FOUND when it is not set.
DWORD GetEnvironmentVariableW(LPCWSTR Name, LPWSTR Buffer, DWORD Size);

// The current folder, without a final separator except for the root: its
// length without the terminator when it fits in Buffer (Size characters),
// else the size it needs with the terminator; 0 on failure.
DWORD GetCurrentDirectoryW(DWORD Size, LPWSTR Buffer);

// Files.
#pragma once

#include "minwinbase.h"
#include "minwindef.h"

constexpr DWORD CREATE_NEW = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD OPEN_ALWAYS = 4;
constexpr DWORD TRUNCATE_EXISTING = 5;

// Share modes are accepted and not enforced; attributes and templates are
// ignored. Returns INVALID_HANDLE_VALUE on failure.
HANDLE CreateFileW(LPCWSTR FileName, DWORD DesiredAccess, DWORD ShareMode, LPSECURITY_ATTRIBUTES SecurityAttributes,
                   DWORD CreationDisposition, DWORD FlagsAndAttributes, HANDLE TemplateFile);
BOOL WriteFile(HANDLE File, LPCVOID Buffer, DWORD NumberOfBytesToWrite, LPDWORD NumberOfBytesWritten,
               LPVOID Overlapped);

// Files.
#pragma once

#include <minwinbase.h>
#include <minwindef.h>

constexpr DWORD CREATE_NEW = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD OPEN_ALWAYS = 4;
constexpr DWORD TRUNCATE_EXISTING = 5;

// Share modes are accepted and not enforced; attributes and templates are
// ignored. Returns INVALID_HANDLE_VALUE on failure.
//
// Only regular files are opened: a symbolic link, FIFO, device or folder at
// the name fails the call (ERROR_ACCESS_DENIED) without being opened through,
// so a planted name can neither redirect the write nor block it. Files are
// created readable and writable by their owner alone; CREATE_ALWAYS puts a
// new file in place of an existing one.
HANDLE CreateFileW(LPCWSTR FileName, DWORD DesiredAccess, DWORD ShareMode, LPSECURITY_ATTRIBUTES SecurityAttributes,
                   DWORD CreationDisposition, DWORD FlagsAndAttributes, HANDLE TemplateFile);
BOOL WriteFile(HANDLE File, LPCVOID Buffer, DWORD NumberOfBytesToWrite, LPDWORD NumberOfBytesWritten,
               LPVOID Overlapped);
// What was written through File reaches the disk.
BOOL FlushFileBuffers(HANDLE File);
// Removes a file's name; a link is removed itself, a folder is refused.
BOOL DeleteFileW(LPCWSTR FileName);

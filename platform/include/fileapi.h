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
//
// A handle without access (DesiredAccess 0, OPEN_EXISTING) only asks what a
// name stands for: it follows links, as the platform does, opens whatever
// the name finally names without blocking, and can neither read nor write.
HANDLE CreateFileW(LPCWSTR FileName, DWORD DesiredAccess, DWORD ShareMode, LPSECURITY_ATTRIBUTES SecurityAttributes,
                   DWORD CreationDisposition, DWORD FlagsAndAttributes, HANDLE TemplateFile);
BOOL WriteFile(HANDLE File, LPCVOID Buffer, DWORD NumberOfBytesToWrite, LPDWORD NumberOfBytesWritten,
               LPVOID Overlapped);
// What was written through File reaches the disk.
BOOL FlushFileBuffers(HANDLE File);

struct FILETIME
{
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};
typedef FILETIME* LPFILETIME;

struct BY_HANDLE_FILE_INFORMATION
{
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD dwVolumeSerialNumber;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD nNumberOfLinks;
    DWORD nFileIndexHigh;
    DWORD nFileIndexLow;
};
typedef BY_HANDLE_FILE_INFORMATION* LPBY_HANDLE_FILE_INFORMATION;

// What File stands for. Two handles name one file when their volume serial
// numbers and file indexes are equal. The creation time is that of the last
// change of the file's status, which is the nearest that is kept.
BOOL GetFileInformationByHandle(HANDLE File, LPBY_HANDLE_FILE_INFORMATION FileInformation);
// Removes a file's name; a link is removed itself, a folder is refused.
BOOL DeleteFileW(LPCWSTR FileName);

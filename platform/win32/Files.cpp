// Files, paths and numbers in text.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Win32/Errors.h"
#include "Win32/Handles.h"
#include "Win32/Utf8.h"
#include <fileapi.h>
#include <shlwapi.h>
#include <stringapiset.h>
#include <winbase.h>
#include <winnt.h>

namespace {

// Whatever stands at the name other than a regular file (a link, a FIFO, a
// device, a folder) is never opened through.
bool IsRegularFileOrAbsent(const std::string& Path)
{
    struct stat Status;
    if (lstat(Path.c_str(), &Status) == -1)
        return errno == ENOENT;
    if (S_ISREG(Status.st_mode))
        return true;
    errno = S_ISLNK(Status.st_mode) ? ELOOP : S_ISDIR(Status.st_mode) ? EISDIR : ENXIO;
    return false;
}

// Opens or creates a regular file for CreateFileW: never through a symbolic
// link, never blocking on a FIFO, created private to its owner. Existed
// tells whether a file stood at the name. -1 with errno on failure.
int OpenRegularFile(const std::string& Path, int Access, DWORD Disposition, bool& Existed)
{
    const int Safe = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    const mode_t Private = S_IRUSR | S_IWUSR;
    Existed = false;
    int Fd = -1;
    if (Disposition == CREATE_NEW || Disposition == CREATE_ALWAYS || Disposition == OPEN_ALWAYS)
    {
        Fd = open(Path.c_str(), Access | O_CREAT | O_EXCL | Safe, Private);
        if (Fd != -1 || errno != EEXIST || Disposition == CREATE_NEW)
            return Fd;
        Existed = true;
        if (!IsRegularFileOrAbsent(Path))
            return -1;
        // The existing file gives way to a new one: whoever could read the
        // old one cannot read what is written now.
        if (Disposition == CREATE_ALWAYS)
            return unlink(Path.c_str()) == 0 || errno == ENOENT
                       ? open(Path.c_str(), Access | O_CREAT | O_EXCL | Safe, Private)
                       : -1;
    }
    else if (!IsRegularFileOrAbsent(Path))
        return -1;
    Fd = open(Path.c_str(), Access | Safe);
    if (Fd == -1)
        return -1;
    Existed = true;
    struct stat Status;
    int Error = 0;
    if (fstat(Fd, &Status) == -1)
        Error = errno;
    else if (!S_ISREG(Status.st_mode))
        Error = ENXIO; // swapped in since it was looked at
    else if (Disposition == TRUNCATE_EXISTING && ftruncate(Fd, 0) == -1)
        Error = errno;
    if (Error)
    {
        close(Fd);
        errno = Error;
        return -1;
    }
    return Fd;
}

// A device that fails while a file is written or flushed is a write fault,
// as the platform reports it; other errors map as everywhere.
void SetWriteError(int Error)
{
    Platform::SetLastErrorFromErrno(Error);
    if (Error == EIO)
        SetLastError(ERROR_WRITE_FAULT);
}

// A handle that only asks what Path names, links followed.
HANDLE OpenForQuery(const std::string& Path, LPSECURITY_ATTRIBUTES SecurityAttributes)
{
    Platform::HandleObject Object;
    Object.Fd = open(Path.c_str(), O_PATH | O_CLOEXEC);
    if (Object.Fd == -1)
    {
        Platform::SetLastErrorFromErrno(errno);
        return INVALID_HANDLE_VALUE;
    }
    const HANDLE Handle = Platform::AddHandle(Object, SecurityAttributes && SecurityAttributes->bInheritHandle);
    if (Handle)
        SetLastError(ERROR_SUCCESS);
    return Handle ? Handle : INVALID_HANDLE_VALUE;
}

FILETIME FileTimeOf(const timespec& Time)
{
    // 100-nanosecond units since 1601, when the platform's calendar begins.
    constexpr int64_t SecondsBefore1970 = 11644473600;
    const uint64_t Units = static_cast<uint64_t>((Time.tv_sec + SecondsBefore1970) * 10000000 + Time.tv_nsec / 100);
    return {static_cast<DWORD>(Units), static_cast<DWORD>(Units >> 32)};
}

} // namespace

HANDLE CreateFileW(LPCWSTR FileName, DWORD DesiredAccess, DWORD ShareMode, LPSECURITY_ATTRIBUTES SecurityAttributes,
                   DWORD CreationDisposition, DWORD FlagsAndAttributes, HANDLE TemplateFile)
{
    (void)ShareMode;
    (void)FlagsAndAttributes;
    (void)TemplateFile;
    if (!FileName || CreationDisposition < CREATE_NEW || CreationDisposition > TRUNCATE_EXISTING)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (DesiredAccess == 0 && CreationDisposition == OPEN_EXISTING)
        return OpenForQuery(Platform::Utf8FromWide(FileName), SecurityAttributes);
    int Access = O_RDONLY;
    if ((DesiredAccess & GENERIC_READ) && (DesiredAccess & GENERIC_WRITE))
        Access = O_RDWR;
    else if (DesiredAccess & GENERIC_WRITE)
        Access = O_WRONLY;
    bool Existed = false;
    Platform::HandleObject Object;
    Object.Fd = OpenRegularFile(Platform::Utf8FromWide(FileName), Access, CreationDisposition, Existed);
    if (Object.Fd == -1)
    {
        // An existing file for CREATE_NEW is ERROR_FILE_EXISTS on the
        // platform; what is no regular file cannot be opened as one.
        Platform::SetLastErrorFromErrno(errno);
        if (errno == EEXIST)
            SetLastError(ERROR_FILE_EXISTS);
        else if (errno == ELOOP || errno == ENXIO)
            SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    fcntl(Object.Fd, F_SETFL, fcntl(Object.Fd, F_GETFL) & ~O_NONBLOCK);
    const HANDLE Handle = Platform::AddHandle(Object, SecurityAttributes && SecurityAttributes->bInheritHandle);
    if (!Handle)
        return INVALID_HANDLE_VALUE;
    const bool Reports = CreationDisposition == CREATE_ALWAYS || CreationDisposition == OPEN_ALWAYS;
    SetLastError(Reports && Existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return Handle;
}

BOOL WriteFile(HANDLE File, LPCVOID Buffer, DWORD NumberOfBytesToWrite, LPDWORD NumberOfBytesWritten, LPVOID Overlapped)
{
    Platform::HandleObject Object;
    if (Overlapped)
    {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    if (!Platform::FindHandle(File, Object))
        return FALSE;
    DWORD Written = 0;
    while (Written < NumberOfBytesToWrite)
    {
        const ssize_t Result =
            write(Object.Fd, static_cast<const char*>(Buffer) + Written, NumberOfBytesToWrite - Written);
        if (Result == -1)
        {
            if (errno == EINTR)
                continue;
            SetWriteError(errno);
            if (NumberOfBytesWritten)
                *NumberOfBytesWritten = Written;
            return FALSE;
        }
        Written += static_cast<DWORD>(Result);
    }
    if (NumberOfBytesWritten)
        *NumberOfBytesWritten = Written;
    return TRUE;
}

BOOL GetFileInformationByHandle(HANDLE File, LPBY_HANDLE_FILE_INFORMATION FileInformation)
{
    Platform::HandleObject Object;
    if (!FileInformation)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!Platform::FindHandle(File, Object))
        return FALSE;
    struct stat Status;
    if (fstat(Object.Fd, &Status) == -1)
    {
        Platform::SetLastErrorFromErrno(errno);
        return FALSE;
    }
    const auto Device = static_cast<uint64_t>(Status.st_dev);
    const auto Index = static_cast<uint64_t>(Status.st_ino);
    const auto Size = static_cast<uint64_t>(Status.st_size);
    *FileInformation = {};
    FileInformation->dwFileAttributes = S_ISDIR(Status.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
    FileInformation->ftCreationTime = FileTimeOf(Status.st_ctim);
    FileInformation->ftLastAccessTime = FileTimeOf(Status.st_atim);
    FileInformation->ftLastWriteTime = FileTimeOf(Status.st_mtim);
    // Device numbers fit 32 bits for the kernel's usual majors and minors;
    // the fold keeps larger ones apart all the same.
    FileInformation->dwVolumeSerialNumber = static_cast<DWORD>(Device ^ (Device >> 32));
    FileInformation->nFileSizeHigh = static_cast<DWORD>(Size >> 32);
    FileInformation->nFileSizeLow = static_cast<DWORD>(Size);
    FileInformation->nNumberOfLinks = static_cast<DWORD>(Status.st_nlink);
    FileInformation->nFileIndexHigh = static_cast<DWORD>(Index >> 32);
    FileInformation->nFileIndexLow = static_cast<DWORD>(Index);
    return TRUE;
}

BOOL FlushFileBuffers(HANDLE File)
{
    Platform::HandleObject Object;
    if (!Platform::FindHandle(File, Object))
        return FALSE;
    if (fsync(Object.Fd) == -1)
    {
        SetWriteError(errno);
        return FALSE;
    }
    return TRUE;
}

BOOL DeleteFileW(LPCWSTR FileName)
{
    if (!FileName)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (unlink(Platform::Utf8FromWide(FileName).c_str()) == -1)
    {
        Platform::SetLastErrorFromErrno(errno);
        if (errno == EISDIR || errno == EPERM)
            SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return TRUE;
}

namespace {

// Whether a name may be replaced by a move: absent, a regular file or a link.
bool Replaceable(const std::string& Path)
{
    struct stat Status;
    if (lstat(Path.c_str(), &Status) == -1)
        return errno == ENOENT;
    errno = EACCES;
    return S_ISREG(Status.st_mode) || S_ISLNK(Status.st_mode);
}

// Syncs the folder that holds Path, so that a name given there lasts.
bool SyncFolderOf(const std::string& Path)
{
    const size_t Slash = Path.find_last_of('/');
    const std::string Folder = Slash == std::string::npos ? "." : Slash == 0 ? "/" : Path.substr(0, Slash);
    const int Fd = open(Folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (Fd == -1)
        return false;
    const bool Synced = fsync(Fd) == 0;
    close(Fd);
    return Synced;
}

} // namespace

BOOL MoveFileExW(LPCWSTR ExistingFileName, LPCWSTR NewFileName, DWORD Flags)
{
    if (!ExistingFileName || !NewFileName)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::string From = Platform::Utf8FromWide(ExistingFileName);
    const std::string To = Platform::Utf8FromWide(NewFileName);
    int Result;
    if (Flags & MOVEFILE_REPLACE_EXISTING)
        Result = Replaceable(To) ? rename(From.c_str(), To.c_str()) : -1;
    else
        Result = renameat2(AT_FDCWD, From.c_str(), AT_FDCWD, To.c_str(), RENAME_NOREPLACE);
    if (Result == 0 && (Flags & MOVEFILE_WRITE_THROUGH) && !SyncFolderOf(To))
        Result = -1;
    if (Result == -1)
    {
        Platform::SetLastErrorFromErrno(errno);
        if (errno == EACCES || errno == EISDIR)
            SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return TRUE;
}

namespace {

bool IsSeparator(wchar_t Character) { return Character == L'/' || Character == L'\\'; }

} // namespace

LPWSTR PathCombineW(LPWSTR Buffer, LPCWSTR Directory, LPCWSTR File)
{
    if (!Buffer || (!Directory && !File))
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::wstring Path;
    if (File && IsSeparator(File[0]))
        Path = File;
    else
    {
        Path = Directory ? Directory : L"";
        if (File && *File)
        {
            if (!Path.empty() && !IsSeparator(Path.back()))
                Path.push_back(L'/');
            Path += File;
        }
    }
    if (Path.size() >= MAX_PATH)
    {
        Buffer[0] = L'\0';
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    Path.copy(Buffer, Path.size());
    Buffer[Path.size()] = L'\0';
    return Buffer;
}

LPWSTR PathFindFileNameW(LPCWSTR Path)
{
    if (!Path)
        return nullptr;
    LPCWSTR Name = Path;
    for (LPCWSTR Cursor = Path; *Cursor; ++Cursor)
        // A trailing separator belongs to the last component.
        if ((IsSeparator(*Cursor) || *Cursor == L':') && Cursor[1] && !IsSeparator(Cursor[1]))
            Name = Cursor + 1;
    return const_cast<LPWSTR>(Name);
}

BOOL StrToIntExW(LPCWSTR String, DWORD Flags, int* Value)
{
    if (!String || !Value)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *Value = 0;
    LPCWSTR Cursor = String;
    while (*Cursor == L' ' || *Cursor == L'\t')
        ++Cursor;
    uint32_t Result = 0;
    bool Digits = false;
    if ((Flags & STIF_SUPPORT_HEX) && Cursor[0] == L'0' && (Cursor[1] == L'x' || Cursor[1] == L'X'))
    {
        Digits = true; // the zero
        for (Cursor += 2; std::iswxdigit(static_cast<wint_t>(*Cursor)); ++Cursor)
        {
            const wchar_t Digit = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(*Cursor)));
            Result = Result * 16 + static_cast<uint32_t>(Digit <= L'9' ? Digit - L'0' : Digit - L'a' + 10);
        }
    }
    else
    {
        const bool Negative = *Cursor == L'-';
        if (*Cursor == L'-' || *Cursor == L'+')
            ++Cursor;
        for (; *Cursor >= L'0' && *Cursor <= L'9'; ++Cursor, Digits = true)
            Result = Result * 10 + static_cast<uint32_t>(*Cursor - L'0');
        if (Negative)
            Result = 0u - Result;
    }
    if (!Digits)
        return FALSE;
    *Value = static_cast<int>(Result);
    return TRUE;
}

int MultiByteToWideChar(UINT CodePage, DWORD Flags, LPCSTR MultiByteStr, int MultiByte, LPWSTR WideCharStr,
                        int WideChar)
{
    if ((CodePage != CP_UTF8 && CodePage != CP_ACP) || !MultiByteStr || MultiByte == 0 || WideChar < 0 ||
        (WideChar > 0 && !WideCharStr))
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const size_t Length = MultiByte < 0 ? std::strlen(MultiByteStr) + 1 : static_cast<size_t>(MultiByte);
    std::wstring Text;
    if (!Platform::WideFromUtf8(std::string_view(MultiByteStr, Length), Text,
                                (Flags & MB_ERR_INVALID_CHARS) ? Platform::InvalidUtf8::Fail
                                                               : Platform::InvalidUtf8::Replace))
    {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    if (WideChar == 0)
        return static_cast<int>(Text.size());
    if (Text.size() > static_cast<size_t>(WideChar))
    {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    Text.copy(WideCharStr, Text.size());
    return static_cast<int>(Text.size());
}

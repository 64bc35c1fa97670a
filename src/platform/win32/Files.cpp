// Files, paths and numbers in text.

#include <cerrno>
#include <cstring>
#include <cwctype>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Errors.h"
#include "Handles.h"
#include "Utf8.h"
#include "fileapi.h"
#include "shlwapi.h"
#include "stringapiset.h"
#include "winbase.h"
#include "winnt.h"

HANDLE CreateFileW(LPCWSTR FileName, DWORD DesiredAccess, DWORD ShareMode, LPSECURITY_ATTRIBUTES SecurityAttributes,
                   DWORD CreationDisposition, DWORD FlagsAndAttributes, HANDLE TemplateFile)
{
    (void)ShareMode;
    (void)FlagsAndAttributes;
    (void)TemplateFile;
    if (!FileName)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    int Flags = 0;
    if ((DesiredAccess & GENERIC_READ) && (DesiredAccess & GENERIC_WRITE))
        Flags = O_RDWR;
    else if (DesiredAccess & GENERIC_WRITE)
        Flags = O_WRONLY;
    switch (CreationDisposition)
    {
    case CREATE_NEW: Flags |= O_CREAT | O_EXCL; break;
    case CREATE_ALWAYS: Flags |= O_CREAT | O_TRUNC; break;
    case OPEN_EXISTING: break;
    case OPEN_ALWAYS: Flags |= O_CREAT; break;
    case TRUNCATE_EXISTING: Flags |= O_TRUNC; break;
    default: SetLastError(ERROR_INVALID_PARAMETER); return INVALID_HANDLE_VALUE;
    }
    const std::string Path = Platform::Utf8FromWide(FileName);
    struct stat Status;
    const bool Existed = stat(Path.c_str(), &Status) == 0;
    Platform::HandleObject Object;
    Object.Fd = open(Path.c_str(), Flags | O_CLOEXEC, 0644);
    if (Object.Fd == -1)
    {
        // An existing file for CREATE_NEW is ERROR_FILE_EXISTS on the platform.
        Platform::SetLastErrorFromErrno(errno);
        if (errno == EEXIST)
            SetLastError(ERROR_FILE_EXISTS);
        return INVALID_HANDLE_VALUE;
    }
    const HANDLE Handle = Platform::AddHandle(Object, SecurityAttributes && SecurityAttributes->bInheritHandle);
    if (!Handle)
        return INVALID_HANDLE_VALUE;
    const bool Reports = CreationDisposition == CREATE_ALWAYS || CreationDisposition == OPEN_ALWAYS;
    SetLastError(Reports && Existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return Handle;
}

BOOL WriteFile(HANDLE File, LPCVOID Buffer, DWORD NumberOfBytesToWrite, LPDWORD NumberOfBytesWritten,
               LPVOID Overlapped)
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
            Platform::SetLastErrorFromErrno(errno);
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

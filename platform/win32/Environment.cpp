// The process environment, in wide text.

#include <cerrno>
#include <cstdlib>
#include <unistd.h>
#include <string>

#include "Win32/Errors.h"
#include "Win32/Utf8.h"
#include <processenv.h>
#include <winbase.h>

DWORD GetEnvironmentVariableW(LPCWSTR Name, LPWSTR Buffer, DWORD Size)
{
    if (!Name || (Size > 0 && !Buffer))
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const char* Value = std::getenv(Platform::Utf8FromWide(Name).c_str());
    if (!Value)
    {
        SetLastError(ERROR_ENVVAR_NOT_FOUND);
        return 0;
    }
    const std::wstring Wide = Platform::WideFromUtf8(Value);
    if (Wide.size() >= Size)
        return static_cast<DWORD>(Wide.size() + 1);
    Wide.copy(Buffer, Wide.size());
    Buffer[Wide.size()] = L'\0';
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(Wide.size());
}

DWORD GetCurrentDirectoryW(DWORD Size, LPWSTR Buffer)
{
    if (Size > 0 && !Buffer)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    char* Folder = getcwd(nullptr, 0);
    if (!Folder)
    {
        Platform::SetLastErrorFromErrno(errno);
        return 0;
    }
    const std::wstring Wide = Platform::WideFromUtf8(Folder);
    std::free(Folder);
    if (Wide.size() >= Size)
        return static_cast<DWORD>(Wide.size() + 1);
    Wide.copy(Buffer, Wide.size());
    Buffer[Wide.size()] = L'\0';
    return static_cast<DWORD>(Wide.size());
}

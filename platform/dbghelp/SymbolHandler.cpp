// The symbol handler: which module holds an address of a debugged process.

#include <cstring>
#include <map>
#include <mutex>

#include "Win32/Errors.h"
#include "Win32/Handles.h"
#include "ProcessModules.h"
#include "Win32/Utf8.h"
#include <dbghelp.h>
#include <winbase.h>

namespace {

struct Session
{
    pid_t ProcessId = 0;
    std::vector<Platform::ModuleImage> Modules;
};

struct Sessions
{
    std::mutex Lock;
    std::map<HANDLE, Session> ByHandle;
};

Sessions& AllSessions()
{
    static Sessions Instance;
    return Instance;
}

void CopyText(WCHAR* Destination, size_t Size, const std::wstring& Text)
{
    const size_t Length = Text.size() < Size ? Text.size() : Size - 1;
    Text.copy(Destination, Length);
    Destination[Length] = L'\0';
}

// A path too long for its field keeps its end, which names the file.
void CopyPath(WCHAR* Destination, size_t Size, const std::wstring& Path)
{
    CopyText(Destination, Size, Path.size() < Size ? Path : Path.substr(Path.size() - (Size - 1)));
}

} // namespace

BOOL SymInitializeW(HANDLE Process, PCWSTR UserSearchPath, BOOL InvadeProcess)
{
    (void)UserSearchPath;
    Platform::HandleObject Object;
    if (!Platform::FindHandle(Process, Platform::HandleKind::Process, Object))
        return FALSE;
    Session New;
    New.ProcessId = Object.ProcessId;
    if (InvadeProcess)
        New.Modules = Platform::FindModules(New.ProcessId, Platform::ReadMemoryMap(New.ProcessId));
    Sessions& All = AllSessions();
    std::lock_guard Guard(All.Lock);
    if (!All.ByHandle.emplace(Process, std::move(New)).second)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return TRUE;
}

BOOL SymCleanup(HANDLE Process)
{
    Sessions& All = AllSessions();
    std::lock_guard Guard(All.Lock);
    if (All.ByHandle.erase(Process) == 0)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

BOOL SymRefreshModuleList(HANDLE Process)
{
    Sessions& All = AllSessions();
    std::lock_guard Guard(All.Lock);
    const auto Found = All.ByHandle.find(Process);
    if (Found == All.ByHandle.end())
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    Found->second.Modules =
        Platform::FindModules(Found->second.ProcessId, Platform::ReadMemoryMap(Found->second.ProcessId));
    return TRUE;
}

BOOL SymGetModuleInfoW64(HANDLE Process, DWORD64 Address, PIMAGEHLP_MODULEW64 ModuleInfo)
{
    if (!ModuleInfo || ModuleInfo->SizeOfStruct != sizeof(IMAGEHLP_MODULEW64))
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Sessions& All = AllSessions();
    std::lock_guard Guard(All.Lock);
    const auto Found = All.ByHandle.find(Process);
    if (Found == All.ByHandle.end())
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    for (const Platform::ModuleImage& Module : Found->second.Modules)
    {
        if (Address < Module.Base || Address - Module.Base >= Module.Size)
            continue;
        std::memset(reinterpret_cast<char*>(ModuleInfo) + sizeof ModuleInfo->SizeOfStruct, 0,
                    sizeof *ModuleInfo - sizeof ModuleInfo->SizeOfStruct);
        ModuleInfo->BaseOfImage = Module.Base;
        ModuleInfo->ImageSize = static_cast<DWORD>(Module.Size);
        ModuleInfo->SymType = SymDeferred;
        const std::wstring Path = Platform::WideFromUtf8(Module.Path);
        std::wstring Name = Path.substr(Path.rfind(L'/') + 1);
        Name = Name.substr(0, Name.find(L'.'));
        CopyText(ModuleInfo->ModuleName, std::size(ModuleInfo->ModuleName), Name);
        CopyPath(ModuleInfo->ImageName, std::size(ModuleInfo->ImageName), Path);
        CopyPath(ModuleInfo->LoadedImageName, std::size(ModuleInfo->LoadedImageName), Path);
        return TRUE;
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return FALSE;
}

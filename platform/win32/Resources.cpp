// The executable's resources: a table filled before main by the code that the
// build generates from the resource files.

#include <cwchar>
#include <mutex>
#include <deque>

#include <libloaderapi.h>
#include <winbase.h>
#include <winuser.h>

extern "C" char __executable_start; // the linker's mark of the executable's first byte

namespace {

struct Resource
{
    WORD m_Type;
    WORD m_Identifier;
    WORD m_Language;
    const void* m_Data;
    DWORD m_Size;
};

struct ResourceTable
{
    std::mutex m_Lock;
    // Entries are never removed and never move: a resource handle is the
    // address of its entry.
    std::deque<Resource> m_Resources;
};

ResourceTable& Table()
{
    static ResourceTable Instance;
    return Instance;
}

HMODULE ExecutableModule() { return reinterpret_cast<HMODULE>(&__executable_start); }

bool IsExecutable(HMODULE Module) { return !Module || Module == ExecutableModule(); }

// Only integer identifiers are embedded; a string never matches.
bool ToIdentifier(LPCWSTR Name, WORD& Identifier)
{
    if (!IS_INTRESOURCE(Name))
        return false;
    Identifier = static_cast<WORD>(reinterpret_cast<uintptr_t>(Name));
    return true;
}

HRSRC Find(HMODULE Module, LPCWSTR Name, LPCWSTR Type)
{
    if (!IsExecutable(Module))
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    WORD TypeValue = 0, NameValue = 0;
    const bool TypeKnown = ToIdentifier(Type, TypeValue);
    const bool NameKnown = ToIdentifier(Name, NameValue);
    ResourceTable& Resources = Table();
    std::lock_guard Guard(Resources.m_Lock);
    bool TypeFound = false;
    const Resource* Match = nullptr;
    for (const Resource& Entry : Resources.m_Resources)
    {
        if (!TypeKnown || Entry.m_Type != TypeValue)
            continue;
        TypeFound = true;
        if (!NameKnown || Entry.m_Identifier != NameValue)
            continue;
        Match = &Entry;
        break;
    }
    if (!Match)
    {
        SetLastError(TypeFound ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<HRSRC>(const_cast<Resource*>(Match));
}

} // namespace

HMODULE GetModuleHandleW(LPCWSTR ModuleName)
{
    if (ModuleName)
    {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return ExecutableModule();
}

HRSRC FindResourceW(HMODULE Module, LPCWSTR Name, LPCWSTR Type) { return Find(Module, Name, Type); }

DWORD SizeofResource(HMODULE Module, HRSRC Resource)
{
    if (!IsExecutable(Module) || !Resource)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return reinterpret_cast<const ::Resource*>(Resource)->m_Size;
}

HGLOBAL LoadResource(HMODULE Module, HRSRC Resource)
{
    if (!IsExecutable(Module) || !Resource)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return const_cast<void*>(reinterpret_cast<const ::Resource*>(Resource)->m_Data);
}

LPVOID LockResource(HGLOBAL ResourceData) { return ResourceData; }

namespace Platform {

void RegisterResource(WORD Type, WORD Identifier, WORD Language, const void* Data, DWORD Size)
{
    ResourceTable& Resources = Table();
    std::lock_guard Guard(Resources.m_Lock);
    for (Resource& Entry : Resources.m_Resources)
        if (Entry.m_Type == Type && Entry.m_Identifier == Identifier && Entry.m_Language == Language)
        {
            Entry.m_Data = Data;
            Entry.m_Size = Size;
            return;
        }
    Resources.m_Resources.push_back({Type, Identifier, Language, Data, Size});
}

} // namespace Platform

// SymRefreshModuleList as the tool relies on it: afterwards the symbol
// handler knows every module loaded in the process. Some dbghelp versions
// (Wine 8's) refresh only the host system's modules and leave the PE images
// out; those that the handler does not know yet are loaded here, from the
// process's own module list. Where dbghelp knows them all, this adds nothing.

#include <windows.h>

#include <dbghelp.h>
#include <psapi.h>

extern "C" BOOL WINAPI SymRefreshModuleList(HANDLE Process)
{
    using RefreshFunction = BOOL(WINAPI*)(HANDLE);
    static const RefreshFunction Refresh = [] {
        const HMODULE DbgHelp = GetModuleHandleW(L"dbghelp.dll");
        const FARPROC Found = DbgHelp ? GetProcAddress(DbgHelp, "SymRefreshModuleList") : nullptr;
        return reinterpret_cast<RefreshFunction>(reinterpret_cast<void*>(Found));
    }();
    if (!Refresh || !Refresh(Process))
        return FALSE;
    HMODULE Modules[1024];
    DWORD Size = 0;
    if (!K32EnumProcessModules(Process, Modules, sizeof Modules, &Size))
        return TRUE;
    for (DWORD Index = 0; Index < Size / sizeof(HMODULE) && Index < ARRAYSIZE(Modules); ++Index)
    {
        const DWORD64 Base = reinterpret_cast<DWORD64>(Modules[Index]);
        IMAGEHLP_MODULEW64 Known = {};
        Known.SizeOfStruct = sizeof Known;
        if (SymGetModuleInfoW64(Process, Base, &Known))
            continue;
        wchar_t Path[MAX_PATH];
        if (K32GetModuleFileNameExW(Process, Modules[Index], Path, MAX_PATH))
            SymLoadModuleExW(Process, nullptr, Path, nullptr, Base, 0, nullptr, 0);
    }
    return TRUE;
}

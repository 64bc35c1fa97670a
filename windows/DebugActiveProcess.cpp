// The debugging child attaches through DebugActiveProcess and then behaves
// as the debugger of a console program that shares its console should: the
// console's Ctrl-C goes to the debugged tool alone, which stops its run and
// finalises its file, and a debugger that ends (closed, or failed) leaves
// the tool running rather than killing it, which is Windows' default. The
// tool calls the function through its import pointer, defined here.

#include <windows.h>

namespace {

using AttachFunction = BOOL(WINAPI*)(DWORD);

BOOL WINAPI DebugActiveProcessAndStay(DWORD ProcessId)
{
    // kernel32's own, by address: the name here reaches this function.
    static const AttachFunction Attach = [] {
        const FARPROC Found = GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "DebugActiveProcess");
        return reinterpret_cast<AttachFunction>(reinterpret_cast<void*>(Found));
    }();
    if (!Attach)
    {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return FALSE;
    }
    if (!Attach(ProcessId))
        return FALSE;
    DebugSetProcessKillOnExit(FALSE);
    SetConsoleCtrlHandler(nullptr, TRUE);
    return TRUE;
}

} // namespace

extern "C" {
AttachFunction __imp_DebugActiveProcess = DebugActiveProcessAndStay;
}

// WaitForDebugEventEx came with Windows 10; where kernel32 lacks it (Wine 8
// among others) the debugger falls back to WaitForDebugEvent, which differs
// only in handing wide debug strings over as narrow ones. The tool calls the
// function through its import pointer: defining that pointer here keeps the
// name out of the executable's imports, so that the executable still loads
// there, and lets the choice be made on the first call.

#include <windows.h>

namespace {

using WaitFunction = BOOL(WINAPI*)(LPDEBUG_EVENT, DWORD);

BOOL WINAPI WaitForDebugEventAvailable(LPDEBUG_EVENT DebugEvent, DWORD Milliseconds)
{
    static const WaitFunction Wait = [] {
        const HMODULE Kernel = GetModuleHandleW(L"kernel32.dll");
        const FARPROC Found = Kernel ? GetProcAddress(Kernel, "WaitForDebugEventEx") : nullptr;
        return Found ? reinterpret_cast<WaitFunction>(reinterpret_cast<void*>(Found)) : WaitForDebugEvent;
    }();
    return Wait(DebugEvent, Milliseconds);
}

} // namespace

extern "C" {
WaitFunction __imp_WaitForDebugEventEx = WaitForDebugEventAvailable;
}

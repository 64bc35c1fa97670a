// The debugger output channel and exception records seen by a debugger.
#pragma once

#include <minwinbase.h>
#include <minwindef.h>
#include <winnt.h>

// Hands an exception record to the debugger attached to the process, if any,
// and returns: with no debugger the record is dropped.
void RaiseException(DWORD ExceptionCode, DWORD ExceptionFlags, DWORD NumberOfArguments, const ULONG_PTR* Arguments);

// Sends the text to the attached debugger as DBG_PRINTEXCEPTION_WIDE_C with
// two parameters: the length in characters including the NUL, and the text.
void OutputDebugStringW(LPCWSTR Text);
// The same for narrow (UTF-8) text, as DBG_PRINTEXCEPTION_C.
void OutputDebugStringA(LPCSTR Text);

namespace Platform {

// The real-time signal that carries exception records to a tracer. The
// process ignores it, so it costs nothing when nobody traces.
int DebugChannelSignal();

} // namespace Platform

// In-process handlers that see every raised exception record after the
// debugger, as vectored exception handlers do.
typedef LONG (*PVECTORED_EXCEPTION_HANDLER)(PEXCEPTION_POINTERS ExceptionInfo);

constexpr LONG EXCEPTION_CONTINUE_SEARCH = 0;
constexpr LONG EXCEPTION_EXECUTE_HANDLER = 1;
constexpr LONG EXCEPTION_CONTINUE_EXECUTION = -1;

// First non-zero puts the handler before the others. Returns a handle for
// RemoveVectoredExceptionHandler, or null.
PVOID AddVectoredExceptionHandler(ULONG First, PVECTORED_EXCEPTION_HANDLER Handler);
ULONG RemoveVectoredExceptionHandler(PVOID Handle);

// The debugging interface on ptrace. One process is debugged at a time, and
// every call comes from the thread that attached, as ptrace requires.
BOOL IsDebuggerPresent();
// Attaches to every thread of the process and to every thread it creates
// later. The first events are the process's creation, its other threads and
// an initial breakpoint; the process stands still until they are continued.
BOOL DebugActiveProcess(DWORD ProcessId);
BOOL DebugActiveProcessStop(DWORD ProcessId);
// Debug strings arrive as they were written: wide ones with fUnicode set and
// their length in characters, the NUL included (at most 0xFFFF).
BOOL WaitForDebugEventEx(DEBUG_EVENT* DebugEvent, DWORD Milliseconds);
BOOL ContinueDebugEvent(DWORD ProcessId, DWORD ThreadId, DWORD ContinueStatus);

// The debugger output channel and exception records seen by a debugger.
#pragma once

#include "minwindef.h"

constexpr DWORD EXCEPTION_MAXIMUM_PARAMETERS = 15;
constexpr DWORD EXCEPTION_NONCONTINUABLE = 0x1;
constexpr DWORD DBG_PRINTEXCEPTION_C = 0x40010006;
constexpr DWORD DBG_PRINTEXCEPTION_WIDE_C = 0x4001000A;

struct EXCEPTION_RECORD
{
    DWORD ExceptionCode;
    DWORD ExceptionFlags;
    EXCEPTION_RECORD* ExceptionRecord;
    PVOID ExceptionAddress;
    DWORD NumberParameters;
    ULONG_PTR ExceptionInformation[EXCEPTION_MAXIMUM_PARAMETERS];
};
typedef EXCEPTION_RECORD* PEXCEPTION_RECORD;

// Hands an exception record to the debugger attached to the process, if any,
// and returns: with no debugger the record is dropped.
void RaiseException(DWORD ExceptionCode, DWORD ExceptionFlags, DWORD NumberOfArguments, const ULONG_PTR* Arguments);

// Sends the text to the attached debugger as DBG_PRINTEXCEPTION_WIDE_C with
// two parameters: the length in characters including the NUL, and the text.
void OutputDebugStringW(LPCWSTR Text);

namespace Platform {

// The real-time signal that carries exception records to a tracer. The
// process ignores it, so it costs nothing when nobody traces.
int DebugChannelSignal();

} // namespace Platform

// In-process handlers that see every raised exception record after the
// debugger, as vectored exception handlers do.
struct CONTEXT;
struct EXCEPTION_POINTERS
{
    PEXCEPTION_RECORD ExceptionRecord;
    CONTEXT* ContextRecord;
};
typedef EXCEPTION_POINTERS* PEXCEPTION_POINTERS;
typedef LONG (*PVECTORED_EXCEPTION_HANDLER)(PEXCEPTION_POINTERS ExceptionInfo);

constexpr LONG EXCEPTION_CONTINUE_SEARCH = 0;
constexpr LONG EXCEPTION_EXECUTE_HANDLER = 1;
constexpr LONG EXCEPTION_CONTINUE_EXECUTION = -1;

// First non-zero puts the handler before the others. Returns a handle for
// RemoveVectoredExceptionHandler, or null.
PVOID AddVectoredExceptionHandler(ULONG First, PVECTORED_EXCEPTION_HANDLER Handler);
ULONG RemoveVectoredExceptionHandler(PVOID Handle);

// Security attributes and the debug event records.
#pragma once

#include <minwindef.h>
#include <winnt.h>

struct SECURITY_ATTRIBUTES
{
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
};
typedef SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;

typedef DWORD (*LPTHREAD_START_ROUTINE)(LPVOID Parameter);

constexpr DWORD EXCEPTION_DEBUG_EVENT = 1;
constexpr DWORD CREATE_THREAD_DEBUG_EVENT = 2;
constexpr DWORD CREATE_PROCESS_DEBUG_EVENT = 3;
constexpr DWORD EXIT_THREAD_DEBUG_EVENT = 4;
constexpr DWORD EXIT_PROCESS_DEBUG_EVENT = 5;
constexpr DWORD LOAD_DLL_DEBUG_EVENT = 6;
constexpr DWORD UNLOAD_DLL_DEBUG_EVENT = 7;
constexpr DWORD OUTPUT_DEBUG_STRING_EVENT = 8;
constexpr DWORD RIP_EVENT = 9;

constexpr DWORD EXCEPTION_ACCESS_VIOLATION = STATUS_ACCESS_VIOLATION;
constexpr DWORD EXCEPTION_DATATYPE_MISALIGNMENT = STATUS_DATATYPE_MISALIGNMENT;
constexpr DWORD EXCEPTION_BREAKPOINT = STATUS_BREAKPOINT;
constexpr DWORD EXCEPTION_SINGLE_STEP = STATUS_SINGLE_STEP;
constexpr DWORD EXCEPTION_IN_PAGE_ERROR = STATUS_IN_PAGE_ERROR;
constexpr DWORD EXCEPTION_ILLEGAL_INSTRUCTION = STATUS_ILLEGAL_INSTRUCTION;
constexpr DWORD EXCEPTION_INT_DIVIDE_BY_ZERO = STATUS_INTEGER_DIVIDE_BY_ZERO;
constexpr DWORD EXCEPTION_INT_OVERFLOW = STATUS_INTEGER_OVERFLOW;
constexpr DWORD EXCEPTION_PRIV_INSTRUCTION = STATUS_PRIVILEGED_INSTRUCTION;
constexpr DWORD EXCEPTION_FLT_DIVIDE_BY_ZERO = STATUS_FLOAT_DIVIDE_BY_ZERO;

struct EXCEPTION_DEBUG_INFO
{
    EXCEPTION_RECORD ExceptionRecord;
    DWORD dwFirstChance;
};

struct CREATE_THREAD_DEBUG_INFO
{
    HANDLE hThread;
    LPVOID lpThreadLocalBase;
    LPTHREAD_START_ROUTINE lpStartAddress;
};

struct CREATE_PROCESS_DEBUG_INFO
{
    HANDLE hFile;
    HANDLE hProcess;
    HANDLE hThread;
    LPVOID lpBaseOfImage;
    DWORD dwDebugInfoFileOffset;
    DWORD nDebugInfoSize;
    LPVOID lpThreadLocalBase;
    LPTHREAD_START_ROUTINE lpStartAddress;
    LPVOID lpImageName;
    WORD fUnicode;
};

struct EXIT_THREAD_DEBUG_INFO
{
    DWORD dwExitCode;
};

struct EXIT_PROCESS_DEBUG_INFO
{
    DWORD dwExitCode;
};

struct LOAD_DLL_DEBUG_INFO
{
    HANDLE hFile;
    LPVOID lpBaseOfDll;
    DWORD dwDebugInfoFileOffset;
    DWORD nDebugInfoSize;
    LPVOID lpImageName;
    WORD fUnicode;
};

struct UNLOAD_DLL_DEBUG_INFO
{
    LPVOID lpBaseOfDll;
};

struct OUTPUT_DEBUG_STRING_INFO
{
    LPSTR lpDebugStringData;
    WORD fUnicode;
    WORD nDebugStringLength;
};

struct RIP_INFO
{
    DWORD dwError;
    DWORD dwType;
};

struct DEBUG_EVENT
{
    DWORD dwDebugEventCode;
    DWORD dwProcessId;
    DWORD dwThreadId;
    union
    {
        EXCEPTION_DEBUG_INFO Exception;
        CREATE_THREAD_DEBUG_INFO CreateThread;
        CREATE_PROCESS_DEBUG_INFO CreateProcessInfo;
        EXIT_THREAD_DEBUG_INFO ExitThread;
        EXIT_PROCESS_DEBUG_INFO ExitProcess;
        LOAD_DLL_DEBUG_INFO LoadDll;
        UNLOAD_DLL_DEBUG_INFO UnloadDll;
        OUTPUT_DEBUG_STRING_INFO DebugString;
        RIP_INFO RipInfo;
    } u;
};
typedef DEBUG_EVENT* LPDEBUG_EVENT;

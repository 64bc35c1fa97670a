// The basic Win32 types.
#pragma once

#include <cstddef>
#include <cstdint>

#include <unknwn.h>

// The calling convention of Windows API functions and callbacks: the one
// convention of x86-64.
#define WINAPI

typedef int32_t BOOL;
typedef int32_t INT;
typedef float FLOAT;
typedef int32_t LONG;
typedef uint32_t UINT;
typedef uint8_t UINT8;
typedef uint32_t UINT32;
typedef uint64_t UINT64;
typedef uint8_t BYTE;
typedef uint8_t UCHAR;
typedef uint16_t USHORT;
typedef uint16_t WORD;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef uint64_t ULONG64;
typedef uint64_t DWORD64;
typedef uintptr_t ULONG_PTR;
typedef intptr_t LONG_PTR;
typedef uintptr_t SIZE_T;
typedef uintptr_t DWORD_PTR;
typedef void* PVOID;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef char CHAR;
typedef wchar_t WCHAR;
typedef wchar_t* LPWSTR;
typedef wchar_t* PWSTR;
typedef const wchar_t* LPCWSTR;
typedef const wchar_t* PCWSTR;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef void* HANDLE;
typedef HANDLE HLOCAL;
typedef HANDLE HMODULE;
typedef HANDLE HINSTANCE;
typedef HANDLE HRSRC;
typedef HANDLE HGLOBAL;
typedef const GUID* LPCGUID;
typedef HANDLE HWND;
typedef ULONG* PULONG;
typedef DWORD* LPDWORD;
typedef HANDLE* LPHANDLE;
typedef BYTE* LPBYTE;
typedef SIZE_T* PSIZE_T;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

#define MAX_PATH 260
#define INFINITE 0xFFFFFFFFu
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))

// A locally unique identifier: unique on this machine until it restarts.
struct LUID
{
    DWORD LowPart;
    LONG HighPart;
};

union LARGE_INTEGER
{
    struct
    {
        DWORD LowPart;
        LONG HighPart;
    };
    LONGLONG QuadPart;
};

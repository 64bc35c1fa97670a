// The debug-help library: modules of a debugged process, and minidumps.
#pragma once

#include <guiddef.h>
#include <minidumpapiset.h>
#include <minwindef.h>

enum SYM_TYPE : DWORD
{
    SymNone = 0,
    SymCoff,
    SymCv,
    SymPdb,
    SymExport,
    SymDeferred,
    SymSym,
    SymDia,
    SymVirtual,
};

struct IMAGEHLP_MODULEW64
{
    DWORD SizeOfStruct;
    DWORD64 BaseOfImage;
    DWORD ImageSize;
    DWORD TimeDateStamp;
    DWORD CheckSum;
    DWORD NumSyms;
    SYM_TYPE SymType;
    WCHAR ModuleName[32];
    WCHAR ImageName[256];
    WCHAR LoadedImageName[256];
    WCHAR LoadedPdbName[256];
    DWORD CVSig;
    WCHAR CVData[MAX_PATH * 3];
    DWORD PdbSig;
    GUID PdbSig70;
    DWORD PdbAge;
    BOOL PdbUnmatched;
    BOOL DbgUnmatched;
    BOOL LineNumbers;
    BOOL GlobalSymbols;
    BOOL TypeInfo;
    BOOL SourceIndexed;
    BOOL Publics;
    DWORD MachineType;
    DWORD Reserved;
};
typedef IMAGEHLP_MODULEW64* PIMAGEHLP_MODULEW64;

// A symbol session per process handle. Modules are the ELF images mapped
// into the process, listed from its memory map; without InvadeProcess the
// list stays empty until SymRefreshModuleList. Search paths are not used.
BOOL SymInitializeW(HANDLE Process, PCWSTR UserSearchPath, BOOL InvadeProcess);
BOOL SymCleanup(HANDLE Process);
BOOL SymRefreshModuleList(HANDLE Process);
// The module that holds Address: its load address, size, name and full path
// (its last 255 characters when longer, so that the file name stays).
BOOL SymGetModuleInfoW64(HANDLE Process, DWORD64 Address, PIMAGEHLP_MODULEW64 ModuleInfo);

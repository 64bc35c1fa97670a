// Modules of this process.
#pragma once

#include "minwindef.h"

// The executable's full path; only the executable (a null module) is known.
DWORD GetModuleFileNameW(HMODULE Module, LPWSTR FileName, DWORD Size);
// The executable's load address for a null name; no other module is known.
HMODULE GetModuleHandleW(LPCWSTR ModuleName);

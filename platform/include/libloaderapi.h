// Modules of this process and the resources embedded in them.
#pragma once

#include <minwindef.h>

// The executable's full path; only the executable (a null module) is known.
DWORD GetModuleFileNameW(HMODULE Module, LPWSTR FileName, DWORD Size);
// The executable's load address, which holds its code and resources, for a
// null name; no other module is known.
HMODULE GetModuleHandleW(LPCWSTR ModuleName);

// Finds a resource by name and type; a name or type below 0x10000 is an
// integer identifier (MAKEINTRESOURCEW). Null with the last error set
// (ERROR_RESOURCE_TYPE_NOT_FOUND, ERROR_RESOURCE_NAME_NOT_FOUND) when absent.
HRSRC FindResourceW(HMODULE Module, LPCWSTR Name, LPCWSTR Type);
DWORD SizeofResource(HMODULE Module, HRSRC Resource);
HGLOBAL LoadResource(HMODULE Module, HRSRC Resource);
LPVOID LockResource(HGLOBAL ResourceData);

namespace Platform {

// Adds a resource to the executable's table, or replaces the data of the one
// with the same type, identifier and language, as updating the executable's
// resources would. The embedding step of the build calls it before main for
// every resource it embeds. Data stays owned by the caller and must outlive
// the process's use of it.
void RegisterResource(WORD Type, WORD Identifier, WORD Language, const void* Data, DWORD Size);

} // namespace Platform

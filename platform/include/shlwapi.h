// Path and number helpers of the shell's light-weight utility library.
#pragma once

#include <minwindef.h>

// Joins a directory and a file into Buffer (MAX_PATH characters); a file
// with a root stands alone. Both '/' and '\' separate; '/' is added. Returns
// null when the result would not fit. Does not fold "." or "..".
LPWSTR PathCombineW(LPWSTR Buffer, LPCWSTR Directory, LPCWSTR File);
// The final component of a path (after the last '/', '\' or ':').
LPWSTR PathFindFileNameW(LPCWSTR Path);

constexpr DWORD STIF_DEFAULT = 0x0;
constexpr DWORD STIF_SUPPORT_HEX = 0x1;

// Leading blanks, an optional sign, decimal digits, or with STIF_SUPPORT_HEX
// "0x" and hexadecimal digits; stops at the first other character. FALSE
// (and 0) when no digit is found. Values wrap at 32 bits.
BOOL StrToIntExW(LPCWSTR String, DWORD Flags, int* Value);

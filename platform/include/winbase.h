// Process-wide helpers of the Windows base library: last error, time,
// arithmetic and local memory.
#pragma once

#include <minwindef.h>

DWORD GetLastError();
void SetLastError(DWORD Error);

// Milliseconds since an unspecified start, wrapping at 2^32.
DWORD GetTickCount();
ULONGLONG GetTickCount64();
void Sleep(DWORD Milliseconds);

// Number * Numerator / Denominator through 64 bits, rounded to nearest (halves
// away from zero); -1 when Denominator is 0 or the result leaves the 32-bit range.
int MulDiv(int Number, int Numerator, int Denominator);

HLOCAL LocalFree(HLOCAL Memory);

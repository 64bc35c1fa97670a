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

constexpr DWORD MOVEFILE_REPLACE_EXISTING = 0x1;
constexpr DWORD MOVEFILE_COPY_ALLOWED = 0x2;
constexpr DWORD MOVEFILE_WRITE_THROUGH = 0x8;

// Gives a file a new name in one step. With MOVEFILE_REPLACE_EXISTING a file
// or link at the new name is replaced (a link itself, never its target);
// a folder, FIFO, device or socket there is refused (ERROR_ACCESS_DENIED).
// Without it an existing name fails with ERROR_ALREADY_EXISTS. Moves between
// file systems are not made (ERROR_NOT_SAME_DEVICE, MOVEFILE_COPY_ALLOWED or
// not). MOVEFILE_WRITE_THROUGH returns once the new name is on the disk.
BOOL MoveFileExW(LPCWSTR ExistingFileName, LPCWSTR NewFileName, DWORD Flags);

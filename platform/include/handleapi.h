// Handles: closing and duplicating.
#pragma once

#include <minwindef.h>

constexpr DWORD DUPLICATE_CLOSE_SOURCE = 0x1;
constexpr DWORD DUPLICATE_SAME_ACCESS = 0x2;

// A handle is a file descriptor of this process (its value is (fd + 1) * 4),
// so an inherited handle has the same value in the child. Closing the last
// handle of a child process that has ended reaps it.
BOOL CloseHandle(HANDLE Object);
// Only within the current process: both process handles name this process.
BOOL DuplicateHandle(HANDLE SourceProcess, HANDLE SourceHandle, HANDLE TargetProcess, LPHANDLE TargetHandle,
                     DWORD DesiredAccess, BOOL InheritHandle, DWORD Options);

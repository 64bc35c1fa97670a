// Memory of other processes.
#pragma once

#include <minwindef.h>

// Fails with ERROR_PARTIAL_COPY when not every byte could be read; the bytes
// before the first unreadable one are then in Buffer and counted.
BOOL ReadProcessMemory(HANDLE Process, LPCVOID BaseAddress, LPVOID Buffer, SIZE_T Size, SIZE_T* NumberOfBytesRead);

// The one place where a Linux errno becomes a Win32 error value.
#pragma once

#include <minwindef.h>

namespace Platform {

DWORD Win32ErrorFromErrno(int Error);
// Sets the thread's last error from an errno and returns the Win32 value.
DWORD SetLastErrorFromErrno(int Error);
// Whether the process can take no more memory now. Libraries that report a
// failed allocation only as a generic error (an encoder, a driver that could
// not be loaded) are asked this after such an error: true reads the error
// as out of memory.
bool MemoryExhausted();

} // namespace Platform

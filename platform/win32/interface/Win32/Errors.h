// The one place where a Linux errno becomes a Win32 error value.
#pragma once

#include <minwindef.h>

namespace Platform {

DWORD Win32ErrorFromErrno(int Error);
// Sets the thread's last error from an errno and returns the Win32 value.
DWORD SetLastErrorFromErrno(int Error);

} // namespace Platform

#include "Win32/Errors.h"

#include <cerrno>

#include <sys/mman.h>

#include <winbase.h>

namespace {
thread_local DWORD LastError = ERROR_SUCCESS;
}

DWORD GetLastError() { return LastError; }
void SetLastError(DWORD Error) { LastError = Error; }

namespace Platform {

DWORD Win32ErrorFromErrno(int Error)
{
    switch (Error)
    {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM: return ERROR_ACCESS_DENIED;
    case EROFS: return ERROR_WRITE_PROTECT;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ENOSPC: return ERROR_DISK_FULL;
    case EDQUOT: return ERROR_DISK_QUOTA_EXCEEDED;
    case EFBIG: return ERROR_FILE_TOO_LARGE;
    case ELOOP: return ERROR_CANT_RESOLVE_FILENAME;
    case EPIPE: return ERROR_BROKEN_PIPE;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EISDIR: return ERROR_DIRECTORY;
    case EXDEV: return ERROR_NOT_SAME_DEVICE;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case EBUSY: return ERROR_BUSY;
    case ETIMEDOUT: return ERROR_TIMEOUT;
    case ENOSYS:
    case EOPNOTSUPP: return ERROR_NOT_SUPPORTED;
    case ESRCH: return ERROR_INVALID_PARAMETER;
    case EFAULT:
    case EIO: return ERROR_PARTIAL_COPY;
    default: return ERROR_INVALID_FUNCTION;
    }
}

DWORD SetLastErrorFromErrno(int Error)
{
    const DWORD Value = Win32ErrorFromErrno(Error);
    SetLastError(Value);
    return Value;
}

bool MemoryExhausted()
{
    // Writable private memory counts against the address-space limit and,
    // where overcommit is strict, against the commit limit; untouched, it
    // costs no pages. A driver or an encoder needs far more than this.
    constexpr size_t ProbeSize = size_t(256) << 20;
    void* Probe = mmap(nullptr, ProbeSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (Probe == MAP_FAILED)
        return errno == ENOMEM;
    munmap(Probe, ProbeSize);
    return false;
}

} // namespace Platform

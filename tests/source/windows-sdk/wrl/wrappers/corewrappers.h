// mingw-w64 10's corewrappers.h, and the slim reader/writer lock wrapper
// that it lacks.
#pragma once

#include_next <wrl/wrappers/corewrappers.h>

#include <windows.h>

namespace Microsoft::WRL::Wrappers {

class SRWLock
{
public:
    class SyncLockExclusive
    {
    public:
        SyncLockExclusive(SyncLockExclusive&& Other) noexcept;
        ~SyncLockExclusive();
        void Unlock();
    };
    class SyncLockShared
    {
    public:
        SyncLockShared(SyncLockShared&& Other) noexcept;
        ~SyncLockShared();
        void Unlock();
    };

    SRWLock() = default;
    SRWLock(const SRWLock&) = delete;
    SRWLock& operator=(const SRWLock&) = delete;

    SyncLockExclusive LockExclusive();
    SyncLockShared LockShared();

private:
    SRWLOCK m_Lock = SRWLOCK_INIT;
};

} // namespace Microsoft::WRL::Wrappers

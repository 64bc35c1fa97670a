// Scope wrappers: a slim reader/writer lock whose locks release themselves.
#pragma once

#include <utility>

#include <synchapi.h>

namespace Microsoft::WRL::Wrappers {

class SRWLock
{
public:
    class SyncLockExclusive
    {
    public:
        explicit SyncLockExclusive(SRWLOCK* Lock) : m_Lock(Lock) { AcquireSRWLockExclusive(m_Lock); }
        SyncLockExclusive(SyncLockExclusive&& Other) noexcept : m_Lock(std::exchange(Other.m_Lock, nullptr)) {}
        ~SyncLockExclusive() { Unlock(); }
        SyncLockExclusive(const SyncLockExclusive&) = delete;
        SyncLockExclusive& operator=(const SyncLockExclusive&) = delete;
        void Unlock()
        {
            if (m_Lock)
                ReleaseSRWLockExclusive(std::exchange(m_Lock, nullptr));
        }

    private:
        SRWLOCK* m_Lock;
    };

    class SyncLockShared
    {
    public:
        explicit SyncLockShared(SRWLOCK* Lock) : m_Lock(Lock) { AcquireSRWLockShared(m_Lock); }
        SyncLockShared(SyncLockShared&& Other) noexcept : m_Lock(std::exchange(Other.m_Lock, nullptr)) {}
        ~SyncLockShared() { Unlock(); }
        SyncLockShared(const SyncLockShared&) = delete;
        SyncLockShared& operator=(const SyncLockShared&) = delete;
        void Unlock()
        {
            if (m_Lock)
                ReleaseSRWLockShared(std::exchange(m_Lock, nullptr));
        }

    private:
        SRWLOCK* m_Lock;
    };

    SRWLock() = default;
    SRWLock(const SRWLock&) = delete;
    SRWLock& operator=(const SRWLock&) = delete;

    SyncLockExclusive LockExclusive() { return SyncLockExclusive(&m_Lock); }
    SyncLockShared LockShared() { return SyncLockShared(&m_Lock); }

private:
    SRWLOCK m_Lock = SRWLOCK_INIT;
};

} // namespace Microsoft::WRL::Wrappers

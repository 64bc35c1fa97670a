// mingw-w64's corewrappers.h, and the slim reader/writer lock wrapper that
// it lacks: a lock that hands out scope objects, each releasing its hold
// when it ends (or at Unlock), exclusive or shared.
#pragma once

#include_next <wrl/wrappers/corewrappers.h>

#include <windows.h>

namespace Microsoft::WRL::Wrappers {

class SRWLock
{
public:
    template <bool Exclusive>
    class SyncLock
    {
    public:
        explicit SyncLock(SRWLOCK* Lock) noexcept : m_Lock(Lock) {}
        SyncLock(SyncLock&& Other) noexcept : m_Lock(Other.m_Lock) { Other.m_Lock = nullptr; }
        SyncLock(const SyncLock&) = delete;
        SyncLock& operator=(const SyncLock&) = delete;
        ~SyncLock() { Unlock(); }

        void Unlock() noexcept
        {
            if (m_Lock && Exclusive)
                ReleaseSRWLockExclusive(m_Lock);
            else if (m_Lock)
                ReleaseSRWLockShared(m_Lock);
            m_Lock = nullptr;
        }
        bool IsLocked() const noexcept { return m_Lock != nullptr; }

    private:
        SRWLOCK* m_Lock;
    };
    using SyncLockExclusive = SyncLock<true>;
    using SyncLockShared = SyncLock<false>;

    SRWLock() = default;
    SRWLock(const SRWLock&) = delete;
    SRWLock& operator=(const SRWLock&) = delete;

    SyncLockExclusive LockExclusive() noexcept
    {
        AcquireSRWLockExclusive(&m_Lock);
        return SyncLockExclusive(&m_Lock);
    }
    SyncLockShared LockShared() noexcept
    {
        AcquireSRWLockShared(&m_Lock);
        return SyncLockShared(&m_Lock);
    }

private:
    SRWLOCK m_Lock = SRWLOCK_INIT;
};

} // namespace Microsoft::WRL::Wrappers

// Slim reader/writer locks.

#include <cstring>

#include <pthread.h>

#include <gtest/gtest.h>

#include <windows.h>

TEST(SrwLock, ItsInitialStateIsAnUnlockedReadWriteLock)
{
    // SRWLOCK_INIT leaves the storage zeroed, which must be what the C
    // library's initializer makes.
    const pthread_rwlock_t Initial = PTHREAD_RWLOCK_INITIALIZER;
    const SRWLOCK Lock = SRWLOCK_INIT;
    EXPECT_EQ(std::memcmp(&Initial, Lock.Storage, sizeof Initial), 0);
    SRWLOCK Initialized;
    std::memset(&Initialized, 0xA5, sizeof Initialized);
    InitializeSRWLock(&Initialized);
    EXPECT_EQ(std::memcmp(&Initial, Initialized.Storage, sizeof Initial), 0);
}

TEST(SrwLock, ReadersShareAndAWriterExcludes)
{
    SRWLOCK Lock = SRWLOCK_INIT;
    AcquireSRWLockShared(&Lock);
    AcquireSRWLockShared(&Lock);
    auto* RwLock = reinterpret_cast<pthread_rwlock_t*>(Lock.Storage);
    EXPECT_EQ(pthread_rwlock_trywrlock(RwLock), EBUSY);
    ReleaseSRWLockShared(&Lock);
    ReleaseSRWLockShared(&Lock);
    AcquireSRWLockExclusive(&Lock);
    EXPECT_EQ(pthread_rwlock_tryrdlock(RwLock), EBUSY);
    ReleaseSRWLockExclusive(&Lock);
    EXPECT_EQ(pthread_rwlock_tryrdlock(RwLock), 0);
    ReleaseSRWLockShared(&Lock);
}

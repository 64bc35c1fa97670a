// Slim reader/writer locks.
#pragma once

#include <pthread.h>

struct SRWLOCK
{
    pthread_rwlock_t Lock;
};
typedef SRWLOCK* PSRWLOCK;

#define SRWLOCK_INIT {PTHREAD_RWLOCK_INITIALIZER}

void InitializeSRWLock(PSRWLOCK Lock);
void AcquireSRWLockExclusive(PSRWLOCK Lock);
void ReleaseSRWLockExclusive(PSRWLOCK Lock);
void AcquireSRWLockShared(PSRWLOCK Lock);
void ReleaseSRWLockShared(PSRWLOCK Lock);

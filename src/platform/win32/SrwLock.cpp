#include "SrwLock.h"

void InitializeSRWLock(PSRWLOCK Lock) { *Lock = SRWLOCK_INIT; }
void AcquireSRWLockExclusive(PSRWLOCK Lock) { pthread_rwlock_wrlock(&Lock->Lock); }
void ReleaseSRWLockExclusive(PSRWLOCK Lock) { pthread_rwlock_unlock(&Lock->Lock); }
void AcquireSRWLockShared(PSRWLOCK Lock) { pthread_rwlock_rdlock(&Lock->Lock); }
void ReleaseSRWLockShared(PSRWLOCK Lock) { pthread_rwlock_unlock(&Lock->Lock); }

// Slim reader/writer locks on POSIX read/write locks, which live in the
// lock's storage. A zeroed read/write lock is an unlocked one, so that
// SRWLOCK_INIT and InitializeSRWLock agree with PTHREAD_RWLOCK_INITIALIZER
// (checked by the tests).
#include <pthread.h>

#include <synchapi.h>

namespace {

static_assert(sizeof(pthread_rwlock_t) <= sizeof(SRWLOCK) && alignof(pthread_rwlock_t) <= alignof(SRWLOCK),
              "a read/write lock fits an SRWLOCK");

pthread_rwlock_t* RwLock(PSRWLOCK Lock) { return reinterpret_cast<pthread_rwlock_t*>(Lock->Storage); }

} // namespace

void InitializeSRWLock(PSRWLOCK Lock) { *Lock = SRWLOCK_INIT; }
void AcquireSRWLockExclusive(PSRWLOCK Lock) { pthread_rwlock_wrlock(RwLock(Lock)); }
void ReleaseSRWLockExclusive(PSRWLOCK Lock) { pthread_rwlock_unlock(RwLock(Lock)); }
void AcquireSRWLockShared(PSRWLOCK Lock) { pthread_rwlock_rdlock(RwLock(Lock)); }
void ReleaseSRWLockShared(PSRWLOCK Lock) { pthread_rwlock_unlock(RwLock(Lock)); }

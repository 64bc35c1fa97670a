// Events, waits and slim reader/writer locks.
#pragma once

#include <minwinbase.h>
#include <minwindef.h>

constexpr DWORD MAXIMUM_WAIT_OBJECTS = 64;
constexpr DWORD WAIT_OBJECT_0 = STATUS_WAIT_0;
constexpr DWORD WAIT_TIMEOUT = STATUS_TIMEOUT;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;

// An unnamed event (an eventfd); named events are not supported.
HANDLE CreateEventW(LPSECURITY_ATTRIBUTES EventAttributes, BOOL ManualReset, BOOL InitialState, LPCWSTR Name);
BOOL SetEvent(HANDLE Event);
BOOL ResetEvent(HANDLE Event);

// Waits for events and processes (signalled when they end). Waiting for all
// of several objects at once is not supported.
DWORD WaitForMultipleObjects(DWORD Count, const HANDLE* Handles, BOOL WaitAll, DWORD Milliseconds);
DWORD WaitForSingleObject(HANDLE Handle, DWORD Milliseconds);

// Slim reader/writer locks. The lock's storage is opaque; all zeros, as
// SRWLOCK_INIT leaves it, is an unlocked lock.
struct SRWLOCK
{
    alignas(8) unsigned char Storage[56];
};
typedef SRWLOCK* PSRWLOCK;

#define SRWLOCK_INIT \
    {}

void InitializeSRWLock(PSRWLOCK Lock);
void AcquireSRWLockExclusive(PSRWLOCK Lock);
void ReleaseSRWLockExclusive(PSRWLOCK Lock);
void AcquireSRWLockShared(PSRWLOCK Lock);
void ReleaseSRWLockShared(PSRWLOCK Lock);

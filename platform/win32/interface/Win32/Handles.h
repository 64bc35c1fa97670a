// The handle table: every handle is a file descriptor of this process, so
// that inherited handles keep their values in a child. The table remembers
// what each descriptor stands for; descriptors that reached this process by
// inheritance are recognised by their kind when first used.
#pragma once

#include <sys/types.h>
#include <vector>

#include <minwindef.h>

namespace Platform {

enum class HandleKind
{
    File,
    Event,
    Process, // a pidfd
    Thread,  // an O_PATH descriptor of the thread's /proc directory
};

struct HandleObject
{
    HandleKind Kind = HandleKind::File;
    int Fd = -1; // -1 for the pseudo-handles of the current process and thread
    pid_t ProcessId = 0;
    pid_t ThreadId = 0;
    bool ManualReset = true;
};

HANDLE HandleFromFd(int Fd);

// Takes ownership of Object.Fd (made inheritable or not) and returns its
// handle, or null with the last error set.
HANDLE AddHandle(HandleObject Object, bool Inheritable);

// Finds what a handle stands for; false with ERROR_INVALID_HANDLE when it is
// none.
bool FindHandle(HANDLE Handle, HandleObject& Object);
// The same for a handle that must stand for a Kind of object.
bool FindHandle(HANDLE Handle, HandleKind Kind, HandleObject& Object);

// The descriptors of the inheritable handles, for a child that inherits none.
std::vector<int> InheritableHandleFds();

// A pidfd for a process, or -1 with errno set.
int OpenProcessFd(pid_t ProcessId);
// An O_PATH descriptor of /proc/<pid>/task/<tid>, or -1 with errno set.
int OpenThreadFd(pid_t ProcessId, pid_t ThreadId);

} // namespace Platform

// The native process query that tells a process's parent.
#pragma once

#include <minwindef.h>

typedef LONG NTSTATUS;
constexpr bool NT_SUCCESS(NTSTATUS Status) { return Status >= 0; }
constexpr NTSTATUS STATUS_INFO_LENGTH_MISMATCH = static_cast<NTSTATUS>(0xC0000004);
constexpr NTSTATUS STATUS_INVALID_HANDLE = static_cast<NTSTATUS>(0xC0000008);
constexpr NTSTATUS STATUS_INVALID_INFO_CLASS = static_cast<NTSTATUS>(0xC0000003);

enum PROCESSINFOCLASS
{
    ProcessBasicInformation = 0,
};

struct PROCESS_BASIC_INFORMATION
{
    NTSTATUS ExitStatus;
    PVOID PebBaseAddress;
    ULONG_PTR AffinityMask;
    LONG BasePriority;
    ULONG_PTR UniqueProcessId;
    ULONG_PTR InheritedFromUniqueProcessId;
};

// Only ProcessBasicInformation, and only the process ids in it: the
// process's own and its parent's (0 when the parent is not known).
NTSTATUS NtQueryInformationProcess(HANDLE ProcessHandle, PROCESSINFOCLASS ProcessInformationClass,
                                   PVOID ProcessInformation, ULONG ProcessInformationLength, PULONG ReturnLength);

// Processes and threads.
#pragma once

#include <fileapi.h>
#include <minwinbase.h>
#include <minwindef.h>
#include <winnt.h>

struct STARTUPINFOW
{
    DWORD cb;
    LPWSTR lpReserved;
    LPWSTR lpDesktop;
    LPWSTR lpTitle;
    DWORD dwX;
    DWORD dwY;
    DWORD dwXSize;
    DWORD dwYSize;
    DWORD dwXCountChars;
    DWORD dwYCountChars;
    DWORD dwFillAttribute;
    DWORD dwFlags;
    WORD wShowWindow;
    WORD cbReserved2;
    LPBYTE lpReserved2;
    HANDLE hStdInput;
    HANDLE hStdOutput;
    HANDLE hStdError;
};
typedef STARTUPINFOW* LPSTARTUPINFOW;

struct PROCESS_INFORMATION
{
    HANDLE hProcess;
    HANDLE hThread;
    DWORD dwProcessId;
    DWORD dwThreadId;
};
typedef PROCESS_INFORMATION* LPPROCESS_INFORMATION;

constexpr DWORD STILL_ACTIVE = STATUS_PENDING;

// Starts a program with the arguments that CommandLineToArgvW finds in
// CommandLine; it shares this process's console and starts with no signal
// blocked. Creation flags, another
// environment and start-up handles are not supported. The new process may
// debug this one (its creator names it its tracer where ptrace is limited to
// ancestors), as any process of the same user may on Windows.
BOOL CreateProcessW(LPCWSTR ApplicationName, LPWSTR CommandLine, LPSECURITY_ATTRIBUTES ProcessAttributes,
                    LPSECURITY_ATTRIBUTES ThreadAttributes, BOOL InheritHandles, DWORD CreationFlags,
                    LPVOID Environment, LPCWSTR CurrentDirectory, LPSTARTUPINFOW StartupInfo,
                    LPPROCESS_INFORMATION ProcessInformation);
// The exit code of a child of this process, or STILL_ACTIVE.
BOOL GetExitCodeProcess(HANDLE Process, LPDWORD ExitCode);

// Ends the process with ExitCode after the C runtime's own exit work. A
// process ending with STATUS_CONTROL_C_EXIT after a console control event
// ends by the signal that carried the event, as the shell expects of a
// program that Ctrl-C or kill stopped (status 128 + the signal's number).
[[noreturn]] void ExitProcess(UINT ExitCode);

HANDLE GetCurrentProcess();
// The times of this process (GetCurrentProcess() or its id opened): when it
// started, and the processor time that its threads spent in the kernel and
// in user mode so far. The exit time is left zero; it is not known while
// the process runs. Other processes: ERROR_INVALID_HANDLE.
BOOL GetProcessTimes(HANDLE Process, LPFILETIME CreationTime, LPFILETIME ExitTime, LPFILETIME KernelTime,
                     LPFILETIME UserTime);
DWORD GetCurrentProcessId();
DWORD GetCurrentThreadId();
HANDLE OpenProcess(DWORD DesiredAccess, BOOL InheritHandle, DWORD ProcessId);
HANDLE OpenThread(DWORD DesiredAccess, BOOL InheritHandle, DWORD ThreadId);

// The context of a thread that this process debugs and that stands still at
// a debug event.
BOOL GetThreadContext(HANDLE Thread, LPCONTEXT Context);

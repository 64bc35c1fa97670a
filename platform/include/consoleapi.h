// Console control events: Ctrl-C and the requests to end the process.
#pragma once

#include <cstdint>

#include <minwindef.h>

// On this platform: SIGINT is Ctrl-C, SIGHUP (the terminal went away) the
// console being closed, SIGTERM the system asking the process to end.
constexpr DWORD CTRL_C_EVENT = 0;
constexpr DWORD CTRL_BREAK_EVENT = 1;
constexpr DWORD CTRL_CLOSE_EVENT = 2;
constexpr DWORD CTRL_LOGOFF_EVENT = 5;
constexpr DWORD CTRL_SHUTDOWN_EVENT = 6;

// Answers TRUE when it has handled the event; otherwise the next handler is
// asked, and after the last the process ends by the event.
typedef BOOL(WINAPI* PHANDLER_ROUTINE)(DWORD CtrlType);

// Console modes; a handle to a terminal reports these output modes.
constexpr DWORD ENABLE_PROCESSED_OUTPUT = 0x1;
constexpr DWORD ENABLE_WRAP_AT_EOL_OUTPUT = 0x2;
constexpr DWORD ENABLE_VIRTUAL_TERMINAL_PROCESSING = 0x4;

// The mode of a console handle; FALSE with ERROR_INVALID_HANDLE for a handle
// that is not a console (on this platform: not a terminal).
BOOL GetConsoleMode(HANDLE ConsoleHandle, LPDWORD Mode);

// Adds a handler (called first from then on) or removes one. Handlers run
// one at a time on a thread of the platform's, never inside a signal handler,
// so that they may do what any thread does. While a handler is registered, a
// second event before the end of the process ends it at once. A signal that
// was ignored when the process started stays ignored. A null handler is not
// supported (ERROR_INVALID_PARAMETER).
BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE HandlerRoutine, BOOL Add);

typedef int16_t SHORT;
struct COORD
{
    SHORT X;
    SHORT Y;
};
struct SMALL_RECT
{
    SHORT Left;
    SHORT Top;
    SHORT Right;
    SHORT Bottom;
};
struct CONSOLE_SCREEN_BUFFER_INFO
{
    COORD dwSize;
    COORD dwCursorPosition;
    WORD wAttributes;
    SMALL_RECT srWindow;
    COORD dwMaximumWindowSize;
};
typedef CONSOLE_SCREEN_BUFFER_INFO* PCONSOLE_SCREEN_BUFFER_INFO;

// The console's size as the terminal says it now: srWindow spans columns 0 to
// width - 1 and rows 0 to height - 1 (one row where it does not say), and the
// buffer and the largest window are as large; the cursor and the attributes
// are left zero. FALSE with ERROR_INVALID_HANDLE for a handle that is not a
// terminal, and for a terminal that does not know its width.
BOOL GetConsoleScreenBufferInfo(HANDLE ConsoleOutput, PCONSOLE_SCREEN_BUFFER_INFO ConsoleScreenBufferInfo);

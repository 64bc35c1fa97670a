// Fault signals as the exceptions that the platform reports for them.

#include <csignal>

#include "Win32/Debugger.h"
#include <winnt.h>

namespace Platform {

DWORD ExceptionFromSignal(const siginfo_t& Info, EXCEPTION_RECORD& Record)
{
    Record = {};
    const auto Address = reinterpret_cast<ULONG_PTR>(Info.si_addr);
    switch (Info.si_signo)
    {
    case SIGSEGV:
        // The platform's parameters: read (0), write (1) or execute (8), and
        // the address; a fault does not tell which access it was.
        Record.ExceptionCode = EXCEPTION_ACCESS_VIOLATION;
        Record.NumberParameters = 2;
        Record.ExceptionInformation[1] = Address;
        break;
    case SIGBUS:
        if (Info.si_code == BUS_ADRALN)
            Record.ExceptionCode = EXCEPTION_DATATYPE_MISALIGNMENT;
        else
        {
            Record.ExceptionCode = EXCEPTION_IN_PAGE_ERROR;
            Record.NumberParameters = 2;
            Record.ExceptionInformation[1] = Address;
        }
        break;
    case SIGILL:
        Record.ExceptionCode = Info.si_code == ILL_PRVOPC || Info.si_code == ILL_PRVREG ? EXCEPTION_PRIV_INSTRUCTION
                                                                                        : EXCEPTION_ILLEGAL_INSTRUCTION;
        break;
    case SIGFPE:
        switch (Info.si_code)
        {
        case FPE_INTDIV: Record.ExceptionCode = STATUS_INTEGER_DIVIDE_BY_ZERO; break;
        case FPE_INTOVF: Record.ExceptionCode = STATUS_INTEGER_OVERFLOW; break;
        case FPE_FLTDIV: Record.ExceptionCode = STATUS_FLOAT_DIVIDE_BY_ZERO; break;
        case FPE_FLTOVF: Record.ExceptionCode = STATUS_FLOAT_OVERFLOW; break;
        case FPE_FLTUND: Record.ExceptionCode = STATUS_FLOAT_UNDERFLOW; break;
        case FPE_FLTRES: Record.ExceptionCode = STATUS_FLOAT_INEXACT_RESULT; break;
        case FPE_FLTSUB: Record.ExceptionCode = STATUS_FLOAT_STACK_CHECK; break;
        default: Record.ExceptionCode = STATUS_FLOAT_INVALID_OPERATION; break;
        }
        break;
    case SIGTRAP:
        Record.ExceptionCode = Info.si_code == TRAP_TRACE ? EXCEPTION_SINGLE_STEP : EXCEPTION_BREAKPOINT;
        break;
    case SIGABRT:
        // abort(): the platform's fail-fast exception for a fatal application exit.
        Record.ExceptionCode = STATUS_STACK_BUFFER_OVERRUN;
        Record.ExceptionFlags = EXCEPTION_NONCONTINUABLE;
        Record.NumberParameters = 1;
        Record.ExceptionInformation[0] = 7; // FAST_FAIL_FATAL_APP_EXIT
        break;
    default: return 0;
    }
    return Record.ExceptionCode;
}

} // namespace Platform

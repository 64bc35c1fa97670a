// The failure convention: a failed call or condition is traced with the
// expression that failed, then thrown as a ComException.
#pragma once

#include "ComException.h"
#include "Trace.h"

[[noreturn]] void ThrowFailure(const TraceLocation& Location, HRESULT Result, const char* Expression);
// The self-debugging code's form: traced the same way, thrown as the bare
// HRESULT (a long).
[[noreturn]] void ThrowBareFailure(const TraceLocation& Location, HRESULT Result, const char* Expression);

// The expression yields an HRESULT, evaluated once; a negative one fails.
#define CheckResult(Expression)                                                 \
    do                                                                          \
    {                                                                           \
        const HRESULT CheckResultValue = (Expression);                          \
        if (FAILED(CheckResultValue))                                           \
        {                                                                       \
            TRACE_LOCATION_HERE;                                                \
            ThrowFailure(TraceLocationValue, CheckResultValue, #Expression);    \
        }                                                                       \
    } while (0)

// A false condition fails with the given HRESULT.
#define CheckCondition(Condition, Result)                                       \
    do                                                                          \
    {                                                                           \
        if (!(Condition))                                                       \
        {                                                                       \
            TRACE_LOCATION_HERE;                                                \
            ThrowFailure(TraceLocationValue, (Result), #Condition);             \
        }                                                                       \
    } while (0)

// A zero or null Win32 result fails with the thread's last error.
#define CheckWin32(Expression)                                                  \
    do                                                                          \
    {                                                                           \
        if (!(Expression))                                                      \
        {                                                                       \
            const HRESULT CheckWin32Value = HRESULT_FROM_WIN32(GetLastError()); \
            TRACE_LOCATION_HERE;                                                \
            ThrowFailure(TraceLocationValue, CheckWin32Value, #Expression);     \
        }                                                                       \
    } while (0)

// The self-debugging code's forms of CheckCondition and CheckWin32.
#define CheckConditionBare(Condition, Result)                                   \
    do                                                                          \
    {                                                                           \
        if (!(Condition))                                                       \
        {                                                                       \
            TRACE_LOCATION_HERE;                                                \
            ThrowBareFailure(TraceLocationValue, (Result), #Condition);         \
        }                                                                       \
    } while (0)

#define CheckWin32Bare(Expression)                                              \
    do                                                                          \
    {                                                                           \
        if (!(Expression))                                                      \
        {                                                                       \
            const HRESULT CheckWin32Value = HRESULT_FROM_WIN32(GetLastError()); \
            TRACE_LOCATION_HERE;                                                \
            ThrowBareFailure(TraceLocationValue, CheckWin32Value, #Expression); \
        }                                                                       \
    } while (0)

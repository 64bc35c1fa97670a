// The failure convention: a failed call or condition is traced with the
// expression that failed, then thrown as a ComException.
#pragma once

#include "ComException.h"
#include "Trace.h"

[[noreturn]] void ThrowFailure(const TraceLocation& Location, HRESULT Result, const char* Expression);
// The self-debugging code's form: traced the same way, thrown as the bare
// HRESULT (a long).
[[noreturn]] void ThrowBareFailure(const TraceLocation& Location, HRESULT Result, const char* Expression);

// The expression yields an HRESULT, evaluated once; a negative one fails and
// is traced as Text.
#define CheckResultAs(Expression, Text)                                 \
    do                                                                  \
    {                                                                   \
        const HRESULT CheckResultValue = (Expression);                  \
        if (FAILED(CheckResultValue))                                   \
        {                                                               \
            TRACE_LOCATION_HERE;                                        \
            ThrowFailure(TraceLocationValue, CheckResultValue, (Text)); \
        }                                                               \
    } while (0)

// A false condition fails with the given HRESULT, through Thrower; Text is
// the condition as written.
#define CheckConditionThrough(Thrower, Condition, Text, Result) \
    do                                                          \
    {                                                           \
        if (!(Condition))                                       \
        {                                                       \
            TRACE_LOCATION_HERE;                                \
            Thrower(TraceLocationValue, (Result), Text);        \
        }                                                       \
    } while (0)

// A zero or null Win32 result fails with the thread's last error, through
// Thrower.
#define CheckWin32Through(Thrower, Expression, Text)                            \
    do                                                                          \
    {                                                                           \
        if (!(Expression))                                                      \
        {                                                                       \
            const HRESULT CheckWin32Value = HRESULT_FROM_WIN32(GetLastError()); \
            TRACE_LOCATION_HERE;                                                \
            Thrower(TraceLocationValue, CheckWin32Value, Text);                 \
        }                                                                       \
    } while (0)

#define CheckResult(Expression) CheckResultAs(Expression, #Expression)
#define CheckCondition(Condition, Result) CheckConditionThrough(ThrowFailure, Condition, #Condition, Result)
#define CheckWin32(Expression) CheckWin32Through(ThrowFailure, Expression, #Expression)
// The self-debugging code's forms.
#define CheckConditionBare(Condition, Result) CheckConditionThrough(ThrowBareFailure, Condition, #Condition, Result)
#define CheckWin32Bare(Expression) CheckWin32Through(ThrowBareFailure, Expression, #Expression)

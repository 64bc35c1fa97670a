// The LTTng-UST tracepoint that carries the tool's trace lines. Included only
// by LttngProvider.cpp, the source of libostrel-lttng.so; the tool proper
// never sees it.
#undef LTTNG_UST_TRACEPOINT_PROVIDER
#define LTTNG_UST_TRACEPOINT_PROVIDER OstrelTraceLoggingProvider

#undef LTTNG_UST_TRACEPOINT_INCLUDE
#define LTTNG_UST_TRACEPOINT_INCLUDE "LttngTracepoint.h"

#if !defined(OSTREL_LTTNG_TRACEPOINT_H) || defined(LTTNG_UST_TRACEPOINT_HEADER_MULTI_READ)
#define OSTREL_LTTNG_TRACEPOINT_H

#include <stdint.h>

#include <lttng/tracepoint.h>

// The field names are those of the TraceLogging event the tool writes, so a
// trace reads the same under both systems.
LTTNG_UST_TRACEPOINT_EVENT(OstrelTraceLoggingProvider, Message,
                           LTTNG_UST_TP_ARGS(const char*, SourceFileArg, uint32_t, SourceLineArg, const char*,
                                             SourceFunctionArg, const char*, TextArg),
                           LTTNG_UST_TP_FIELDS(lttng_ust_field_string(SourceFile, SourceFileArg)
                                                   lttng_ust_field_integer(uint32_t, SourceLine, SourceLineArg)
                                                       lttng_ust_field_string(SourceFunction, SourceFunctionArg)
                                                           lttng_ust_field_string(TextA, TextArg)))

// The tool's trace lines are verbose (level 5); TRACE_DEBUG is LTTng's match.
LTTNG_UST_TRACEPOINT_LOGLEVEL(OstrelTraceLoggingProvider, Message, LTTNG_UST_TRACEPOINT_LOGLEVEL_DEBUG)

#endif

#include <lttng/tracepoint-event.h>

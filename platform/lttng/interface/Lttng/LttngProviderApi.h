// The C interface between the tool and libostrel-lttng.so, the shared library
// that holds the LTTng-UST tracepoint provider. The tool never links
// liblttng-ust: it loads that library with dlopen and reaches it only through
// the one exported function below, so it runs where LTTng is not installed.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Raised whenever the table below changes; the tool refuses a library built
// against another layout.
#define OSTREL_LTTNG_PROVIDER_API_VERSION 1u

// The exported entry point, looked up with dlsym.
#define OSTREL_LTTNG_PROVIDER_ENTRY "OstrelLttngGetProviderApi"

struct OstrelLttngProviderApi
{
    uint32_t Version;
    // Nonzero while a session records OstrelTraceLoggingProvider:Message.
    // A plain load: cheap enough to poll.
    int (*IsMessageEnabled)(void);
    // Emits OstrelTraceLoggingProvider:Message; every string is UTF-8 and
    // NUL-terminated.
    void (*WriteMessage)(const char* SourceFile, uint32_t SourceLine, const char* SourceFunction, const char* Text);
};

typedef const struct OstrelLttngProviderApi* (*OstrelLttngGetProviderApiFunction)(void);

#ifdef __cplusplus
}
#endif

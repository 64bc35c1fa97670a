// What the event provider functions build on, open to the platform's tests.
#pragma once

#include "Lttng/LttngProviderApi.h"
#include <evntprov.h>

namespace Platform::Etw {
// File name of the LTTng provider library, looked for beside the executable.
constexpr const char* LttngProviderLibraryName = "libostrel-lttng.so";

// How often a registration looks at the tracepoint's enable state.
constexpr unsigned EnablePollIntervalMilliseconds = 10;

// Loads the provider library at Path and returns its function table, or a
// Win32 error: ERROR_MOD_NOT_FOUND when the library (or LTTng, which it
// needs) cannot be loaded, ERROR_PROC_NOT_FOUND when it lacks the entry point
// or was built for another table layout. A loaded library stays loaded.
DWORD LoadLttngProvider(const char* Path, const OstrelLttngProviderApi*& Api);

// Makes EventRegister use Api instead of loading the library; nullptr
// returns to the library. Registrations made before keep what they had.
void OverrideLttngProviderForTesting(const OstrelLttngProviderApi* Api);
} // namespace Platform::Etw

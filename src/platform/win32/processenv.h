// The process command line.
#pragma once

#include "minwindef.h"

// The command line as one string, each argument quoted by the Windows rules so
// that CommandLineToArgvW gives the process's arguments back.
LPWSTR GetCommandLineW();

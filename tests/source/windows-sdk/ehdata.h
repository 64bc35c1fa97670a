// The exception data header of the Microsoft C++ compiler, which mingw-w64
// does not ship. The tool reads the throw information that this platform's
// throw hook raises (the exception code, its parameters and the GCC throw
// information), so the platform's own header stands in for it here.
#pragma once

#include "../../../platform/include/ehdata.h"

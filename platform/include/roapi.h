// Windows Runtime initialisation of a thread.
#pragma once

#include <minwindef.h>

enum RO_INIT_TYPE
{
    RO_INIT_SINGLETHREADED = 0,
    RO_INIT_MULTITHREADED = 1,
};

// S_OK the first time on a thread, S_FALSE when already initialised with the
// same type, RPC_E_CHANGED_MODE with another; each success needs its
// RoUninitialize.
HRESULT RoInitialize(RO_INIT_TYPE InitType);
void RoUninitialize();

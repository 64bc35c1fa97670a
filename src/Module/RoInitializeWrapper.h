// The thread's Windows Runtime initialisation.
#pragma once

#include <windows.h>

#include <roapi.h>

// Scope of the thread's Windows Runtime initialisation; converts to the
// initialisation's result, which the owner checks.
class RoInitializeWrapper
{
public:
    explicit RoInitializeWrapper(RO_INIT_TYPE Type);
    ~RoInitializeWrapper();
    RoInitializeWrapper(const RoInitializeWrapper&) = delete;
    RoInitializeWrapper& operator=(const RoInitializeWrapper&) = delete;

    operator HRESULT() const { return m_Result; }

private:
    HRESULT m_Result;
};

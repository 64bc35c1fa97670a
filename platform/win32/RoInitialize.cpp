#include <roapi.h>

namespace {

// Each thread counts its initialisations and keeps the type of the first.
thread_local int InitializeCount = 0;
thread_local RO_INIT_TYPE InitializeType = RO_INIT_MULTITHREADED;

} // namespace

HRESULT RoInitialize(RO_INIT_TYPE InitType)
{
    if (InitType != RO_INIT_SINGLETHREADED && InitType != RO_INIT_MULTITHREADED)
        return E_INVALIDARG;
    if (InitializeCount > 0 && InitType != InitializeType)
        return RPC_E_CHANGED_MODE;
    InitializeType = InitType;
    return InitializeCount++ == 0 ? S_OK : S_FALSE;
}

void RoUninitialize()
{
    if (InitializeCount > 0)
        --InitializeCount;
}

// The tracked sample of the enhanced video renderer's headers: a sample that
// tells its allocator when its last outside reference goes.
#pragma once

#include <mfobjects.h>

struct IMFTrackedSample : IUnknown
{
    STDMETHOD(SetAllocator)(IMFAsyncCallback* pSampleAllocator, IUnknown* pUnkState) = 0;
};
DECLARE_UUIDOF(IMFTrackedSample, 0x245bf8e9, 0x0755, 0x40f7, 0x88, 0xa5, 0xae, 0x0f, 0x18, 0xd5, 0x5e, 0x17);

// Media helpers: attribute copy and an owning PROPVARIANT.
#pragma once

#include <windows.h>

#include <mfapi.h>
#include <mfidl.h>
#include <wrl/client.h>

namespace MF {

// A PROPVARIANT that owns its value and clears it when it goes.
template <int Unused>
class PropVariantT : public PROPVARIANT
{
public:
    PropVariantT() { PropVariantInit(this); }
    ~PropVariantT() { PropVariantClear(this); }
    PropVariantT(const PropVariantT&) = delete;
    PropVariantT& operator=(const PropVariantT&) = delete;

    void Clear();
};

// Copies the item Key from Input to Output; false when Input has no such item.
bool Copy(IMFAttributes* Input, IMFAttributes* Output, REFGUID Key);

} // namespace MF

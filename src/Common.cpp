#include "Common.h"

#include "diagnostics/Check.h"

namespace MF {

template <int Unused>
void PropVariantT<Unused>::Clear()
{
    CheckResult(PropVariantClear(this));
}

template class PropVariantT<1>;

bool Copy(IMFAttributes* Input, IMFAttributes* Output, REFGUID Key)
{
    PropVariantT<1> LocalValue;
    if (FAILED(Input->GetItem(Key, &LocalValue)))
        return false;
    CheckResult(Output->SetItem(Key, LocalValue));
    return true;
}

} // namespace MF

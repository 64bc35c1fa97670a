#include <cstdlib>
#include <cstring>
#include <cwchar>

#include <combaseapi.h>
#include <propidl.h>

void* CoTaskMemAlloc(size_t Size) { return std::malloc(Size ? Size : 1); }
void CoTaskMemFree(void* Memory) { std::free(Memory); }

HRESULT PropVariantClear(PROPVARIANT* Value)
{
    if (!Value)
        return E_POINTER;
    switch (Value->vt)
    {
    case VT_EMPTY:
    case VT_I4:
    case VT_R8:
    case VT_UI4:
    case VT_UI8: break;
    case VT_CLSID: CoTaskMemFree(Value->puuid); break;
    case VT_LPWSTR: CoTaskMemFree(Value->pwszVal); break;
    case VT_VECTOR | VT_UI1: CoTaskMemFree(Value->caub.pElems); break;
    case VT_UNKNOWN:
        if (Value->punkVal)
            Value->punkVal->Release();
        break;
    default: return E_INVALIDARG;
    }
    *Value = PROPVARIANT{};
    return S_OK;
}

HRESULT PropVariantCopy(PROPVARIANT* Destination, const PROPVARIANT* Source)
{
    if (!Destination || !Source)
        return E_POINTER;
    PROPVARIANT Copy = *Source;
    switch (Source->vt)
    {
    case VT_EMPTY:
    case VT_I4:
    case VT_R8:
    case VT_UI4:
    case VT_UI8: break;
    case VT_CLSID:
        Copy.puuid = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
        if (!Copy.puuid)
            return E_OUTOFMEMORY;
        *Copy.puuid = Source->puuid ? *Source->puuid : GUID_NULL;
        break;
    case VT_LPWSTR:
    {
        const size_t Size = ((Source->pwszVal ? wcslen(Source->pwszVal) : 0) + 1) * sizeof(wchar_t);
        Copy.pwszVal = static_cast<wchar_t*>(CoTaskMemAlloc(Size));
        if (!Copy.pwszVal)
            return E_OUTOFMEMORY;
        std::memcpy(Copy.pwszVal, Source->pwszVal ? Source->pwszVal : L"", Size);
        break;
    }
    case VT_VECTOR | VT_UI1:
        Copy.caub.pElems = static_cast<uint8_t*>(CoTaskMemAlloc(Source->caub.cElems));
        if (!Copy.caub.pElems)
            return E_OUTOFMEMORY;
        if (Source->caub.cElems)
            std::memcpy(Copy.caub.pElems, Source->caub.pElems, Source->caub.cElems);
        break;
    case VT_UNKNOWN:
        if (Copy.punkVal)
            Copy.punkVal->AddRef();
        break;
    default: return E_INVALIDARG;
    }
    *Destination = Copy;
    return S_OK;
}

bool PropVariantEqual(const PROPVARIANT& A, const PROPVARIANT& B)
{
    if (A.vt != B.vt)
        return false;
    switch (A.vt)
    {
    case VT_EMPTY: return true;
    case VT_I4:
    case VT_UI4: return A.ulVal == B.ulVal;
    case VT_UI8: return A.uhVal == B.uhVal;
    case VT_R8: return A.dblVal == B.dblVal;
    case VT_CLSID: return *A.puuid == *B.puuid;
    case VT_LPWSTR: return wcscmp(A.pwszVal, B.pwszVal) == 0;
    case VT_VECTOR | VT_UI1:
        return A.caub.cElems == B.caub.cElems &&
               (A.caub.cElems == 0 || std::memcmp(A.caub.pElems, B.caub.pElems, A.caub.cElems) == 0);
    case VT_UNKNOWN: return A.punkVal == B.punkVal;
    default: return false;
    }
}

// PROPVARIANT: a typed value, as attribute stores keep them.
#pragma once

#include <cstdint>

#include <unknwn.h>

typedef uint16_t VARTYPE;

enum VARENUM : VARTYPE
{
    VT_EMPTY = 0,
    VT_I4 = 3,
    VT_R8 = 5,
    VT_UNKNOWN = 13,
    VT_UI1 = 17,
    VT_UI4 = 19,
    VT_UI8 = 21,
    VT_LPWSTR = 31,
    VT_CLSID = 72,
    VT_VECTOR = 0x1000,
};

struct CAUB
{
    uint32_t cElems;
    uint8_t* pElems;
};

struct PROPVARIANT
{
    VARTYPE vt;
    uint16_t wReserved1;
    uint16_t wReserved2;
    uint16_t wReserved3;
    union
    {
        int32_t lVal;
        uint32_t ulVal;
        uint64_t uhVal;
        double dblVal;
        GUID* puuid;
        wchar_t* pwszVal;
        CAUB caub;
        IUnknown* punkVal;
    };
};
typedef PROPVARIANT* LPPROPVARIANT;
typedef const PROPVARIANT& REFPROPVARIANT;

inline void PropVariantInit(PROPVARIANT* Value) { *Value = PROPVARIANT{}; }
// Frees what the value owns and leaves it VT_EMPTY.
HRESULT PropVariantClear(PROPVARIANT* Value);
// Deep copy: strings, GUIDs and blobs are duplicated, interfaces referenced.
HRESULT PropVariantCopy(PROPVARIANT* Destination, const PROPVARIANT* Source);
// Compares type and value (strings and blobs by content, interfaces by pointer).
bool PropVariantEqual(const PROPVARIANT& A, const PROPVARIANT& B);

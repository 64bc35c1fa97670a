// GUID and the binding of interface identifiers to types.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

struct GUID
{
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};

typedef GUID IID;
typedef GUID CLSID;
typedef const GUID& REFGUID;
typedef const IID& REFIID;
typedef const CLSID& REFCLSID;

constexpr bool IsEqualGUID(REFGUID A, REFGUID B)
{
    if (A.Data1 != B.Data1 || A.Data2 != B.Data2 || A.Data3 != B.Data3)
        return false;
    for (int Index = 0; Index < 8; ++Index)
        if (A.Data4[Index] != B.Data4[Index])
            return false;
    return true;
}
#define IsEqualIID(A, B) IsEqualGUID(A, B)
constexpr bool operator==(REFGUID A, REFGUID B) { return IsEqualGUID(A, B); }

constexpr GUID GUID_NULL = {};

// The identifier bound to an interface or class type; specialised once per
// type by DECLARE_UUIDOF.
template <typename Type>
struct UuidOfTraits;

#define DECLARE_UUIDOF(Type, D1, D2, D3, B0, B1, B2, B3, B4, B5, B6, B7)              \
    template <>                                                                       \
    struct UuidOfTraits<Type>                                                         \
    {                                                                                 \
        static constexpr GUID Value = {D1, D2, D3, {B0, B1, B2, B3, B4, B5, B6, B7}}; \
    }

// __uuidof takes a type or an expression, as the compiler extension does.
#define __uuidof(x) (UuidOfTraits<std::remove_cv_t<std::remove_reference_t<__typeof__(x)>>>::Value)

// A GUID bound to a type, so that __uuidof(Type) names it, as each
// compiler's Windows headers do it: the uuid attribute for the Microsoft
// compiler, mingw-w64's declaration for GCC and Clang there, and the
// platform's own declaration elsewhere. Text spells the GUID as the
// attribute takes it; the numbers spell it again, and where the text is not
// used it is checked against them.
#pragma once

#include <cstddef>

#include <windows.h>

// The value of one hexadecimal digit, or -1.
constexpr int TypeUuidDigit(char Character)
{
    return Character >= '0' && Character <= '9'   ? Character - '0'
           : Character >= 'a' && Character <= 'f' ? Character - 'a' + 10
           : Character >= 'A' && Character <= 'F' ? Character - 'A' + 10
                                                  : -1;
}

// Whether Text ("xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx") spells Value.
constexpr bool TypeUuidSpells(const char* Text, const GUID& Value)
{
    unsigned char Bytes[16] = {};
    size_t Count = 0;
    for (size_t Index = 0; Text[Index] != '\0'; ++Index)
    {
        if (Text[Index] == '-')
            continue;
        const int Digit = TypeUuidDigit(Text[Index]);
        if (Digit < 0 || Count == 32)
            return false;
        Bytes[Count / 2] = static_cast<unsigned char>(Bytes[Count / 2] << 4 | Digit);
        ++Count;
    }
    if (Count != 32)
        return false;
    const auto Number = [&](size_t First, size_t Length) {
        unsigned long long Result = 0;
        for (size_t Index = First; Index < First + Length; ++Index)
            Result = Result << 8 | Bytes[Index];
        return Result;
    };
    bool Same = Number(0, 4) == Value.Data1 && Number(4, 2) == Value.Data2 && Number(6, 2) == Value.Data3;
    for (size_t Index = 0; Index < 8; ++Index)
        Same = Same && Bytes[8 + Index] == Value.Data4[Index];
    return Same;
}

#if defined(_MSC_VER)
#define DECLARE_TYPE_UUID(Type, Text, ...) struct __declspec(uuid(Text)) Type
#elif defined(__MINGW32__)
#define DECLARE_TYPE_UUID(Type, Text, ...) \
    struct Type;                           \
    __CRT_UUID_DECL(Type, __VA_ARGS__)
#else
#define DECLARE_TYPE_UUID(Type, Text, ...) \
    struct Type;                           \
    DECLARE_UUIDOF(Type, __VA_ARGS__);     \
    static_assert(TypeUuidSpells(Text, __uuidof(Type)), "the text and the numbers of one GUID")
#endif

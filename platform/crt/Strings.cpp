#include <corecrt.h>

#include <climits>
#include <cwchar>
#include <cwctype>

int wcsncat_s(wchar_t* Destination, size_t Size, const wchar_t* Source, size_t Count)
{
    if (!Destination || Size == 0 || !Source)
        return 22; // EINVAL
    size_t Length = wcsnlen(Destination, Size);
    if (Length == Size)
        return 22;
    int Result = 0;
    for (size_t Index = 0; Count == _TRUNCATE || Index < Count; ++Index)
    {
        if (Source[Index] == L'\0')
            break;
        if (Length + 1 == Size)
        {
            Result = STRUNCATE;
            break;
        }
        Destination[Length++] = Source[Index];
    }
    Destination[Length] = L'\0';
    return Result;
}

int _wtoi(const wchar_t* Text)
{
    if (!Text)
        return 0;
    while (iswspace(static_cast<wint_t>(*Text)))
        ++Text;
    bool Negative = false;
    if (*Text == L'+' || *Text == L'-')
        Negative = *Text++ == L'-';
    long long Value = 0;
    for (; *Text >= L'0' && *Text <= L'9'; ++Text)
    {
        Value = Value * 10 + (*Text - L'0');
        if (Value > static_cast<long long>(INT_MAX) + 1)
            Value = static_cast<long long>(INT_MAX) + 1;
    }
    if (Negative)
        return static_cast<int>(-Value);
    return Value > INT_MAX ? INT_MAX : static_cast<int>(Value);
}

static wchar_t FoldAscii(wchar_t Character)
{
    return Character >= L'A' && Character <= L'Z' ? Character + (L'a' - L'A') : Character;
}

int _wcsicmp(const wchar_t* A, const wchar_t* B)
{
    for (;; ++A, ++B)
    {
        const wchar_t Left = FoldAscii(*A), Right = FoldAscii(*B);
        if (Left != Right)
            return Left < Right ? -1 : 1;
        if (Left == L'\0')
            return 0;
    }
}

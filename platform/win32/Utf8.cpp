#include "Win32/Utf8.h"

namespace Platform {

namespace {

constexpr char32_t Replacement = 0xFFFD;
// Lone surrogates U+DC80 to U+DCFF stand for the bytes 0x80 to 0xFF that
// were not UTF-8; ASCII bytes are always valid and never escaped.
constexpr char32_t EscapeBase = 0xDC00;
constexpr char32_t FirstEscape = EscapeBase + 0x80;
constexpr char32_t LastEscape = EscapeBase + 0xFF;

// Encodes one code point; returns its length (0 when Output is too short).
size_t Encode(char32_t Code, char* Output, size_t Room)
{
    if (Code >= FirstEscape && Code <= LastEscape)
    {
        if (Room < 1)
            return 0;
        Output[0] = static_cast<char>(Code - EscapeBase);
        return 1;
    }
    if (Code > 0x10FFFF || (Code >= 0xD800 && Code <= 0xDFFF))
        Code = Replacement;
    if (Code < 0x80)
    {
        if (Room < 1)
            return 0;
        Output[0] = static_cast<char>(Code);
        return 1;
    }
    if (Code < 0x800)
    {
        if (Room < 2)
            return 0;
        Output[0] = static_cast<char>(0xC0 | (Code >> 6));
        Output[1] = static_cast<char>(0x80 | (Code & 0x3F));
        return 2;
    }
    if (Code < 0x10000)
    {
        if (Room < 3)
            return 0;
        Output[0] = static_cast<char>(0xE0 | (Code >> 12));
        Output[1] = static_cast<char>(0x80 | ((Code >> 6) & 0x3F));
        Output[2] = static_cast<char>(0x80 | (Code & 0x3F));
        return 3;
    }
    if (Room < 4)
        return 0;
    Output[0] = static_cast<char>(0xF0 | (Code >> 18));
    Output[1] = static_cast<char>(0x80 | ((Code >> 12) & 0x3F));
    Output[2] = static_cast<char>(0x80 | ((Code >> 6) & 0x3F));
    Output[3] = static_cast<char>(0x80 | (Code & 0x3F));
    return 4;
}

} // namespace

std::wstring WideFromUtf8(std::string_view Text)
{
    std::wstring Result;
    WideFromUtf8(Text, Result, InvalidUtf8::Escape);
    return Result;
}

bool WideFromUtf8(std::string_view Text, std::wstring& Result, InvalidUtf8 Invalid)
{
    Result.clear();
    Result.reserve(Text.size());
    for (size_t Index = 0; Index < Text.size();)
    {
        const unsigned char Lead = static_cast<unsigned char>(Text[Index]);
        size_t Length = 0;
        char32_t Code = 0, Minimum = 0;
        if (Lead < 0x80)
            Length = 1, Code = Lead;
        else if ((Lead & 0xE0) == 0xC0)
            Length = 2, Code = Lead & 0x1F, Minimum = 0x80;
        else if ((Lead & 0xF0) == 0xE0)
            Length = 3, Code = Lead & 0x0F, Minimum = 0x800;
        else if ((Lead & 0xF8) == 0xF0)
            Length = 4, Code = Lead & 0x07, Minimum = 0x10000;
        size_t Taken = 1;
        bool Valid = Length != 0 && Index + Length <= Text.size();
        for (; Valid && Taken < Length; ++Taken)
        {
            const unsigned char Next = static_cast<unsigned char>(Text[Index + Taken]);
            if ((Next & 0xC0) != 0x80)
                Valid = false;
            else
                Code = (Code << 6) | (Next & 0x3F);
        }
        if (!Valid || Code < Minimum || Code > 0x10FFFF || (Code >= 0xD800 && Code <= 0xDFFF))
        {
            if (Invalid == InvalidUtf8::Fail)
                return false;
            if (Invalid == InvalidUtf8::Escape)
            {
                // One byte at a time: what follows it is read afresh.
                Result.push_back(static_cast<wchar_t>(EscapeBase + Lead));
                ++Index;
                continue;
            }
            Result.push_back(static_cast<wchar_t>(Replacement));
            Index += Valid ? Length : (Taken > 1 ? Taken - 1 : 1);
            continue;
        }
        Result.push_back(static_cast<wchar_t>(Code));
        Index += Length;
    }
    return true;
}

size_t Utf8FromWide(std::wstring_view Text, char* Buffer, size_t Size)
{
    if (Size == 0)
        return 0;
    size_t Written = 0;
    for (wchar_t Character : Text)
    {
        const size_t Length = Encode(static_cast<char32_t>(Character), Buffer + Written, Size - 1 - Written);
        if (Length == 0)
            break;
        Written += Length;
    }
    Buffer[Written] = '\0';
    return Written;
}

std::string Utf8FromWide(std::wstring_view Text)
{
    std::string Result;
    Result.reserve(Text.size());
    char Bytes[4];
    for (wchar_t Character : Text)
        Result.append(Bytes, Encode(static_cast<char32_t>(Character), Bytes, sizeof Bytes));
    return Result;
}

} // namespace Platform

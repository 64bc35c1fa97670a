// Secure formatting with the Windows conventions, on the C library's printf.
// The format is rewritten into the C library's dialect on the stack, then
// formatted; nothing is allocated unless a format is unusually long.

#include <corecrt.h>

#include <cstdio>
#include <cwchar>
#include <printf.h>
#include <string>
#include <string_view>
#include <vector>

#include "Win32/Utf8.h"

namespace {

// Wide text in narrow output ("%ls") goes through the platform's own UTF-8
// conversion, a conversion of its own in the C library's printf: the
// library's stops at the first character that has no UTF-8 form, which the
// escaped bytes of names that are not UTF-8 are.
constexpr int WideTextConversion = 'W';

int PrintWideText(FILE* Stream, const printf_info* Info, const void* const* Arguments)
{
    const wchar_t* Text = *static_cast<const wchar_t* const*>(Arguments[0]);
    std::string Bytes;
    if (!Text)
        Bytes = "(null)";
    // The precision counts bytes and takes whole characters only.
    for (char Encoded[8]; Text && *Text; ++Text)
    {
        const size_t Length = Platform::Utf8FromWide(std::wstring_view(Text, 1), Encoded, sizeof Encoded);
        if (Info->prec >= 0 && Bytes.size() + Length > static_cast<size_t>(Info->prec))
            break;
        Bytes.append(Encoded, Length);
    }
    const size_t Width = Info->width > 0 ? static_cast<size_t>(Info->width) : 0;
    const std::string Padding(Width > Bytes.size() ? Width - Bytes.size() : 0, ' ');
    if (!Info->left)
        std::fputs(Padding.c_str(), Stream);
    std::fwrite(Bytes.data(), 1, Bytes.size(), Stream);
    if (Info->left)
        std::fputs(Padding.c_str(), Stream);
    return static_cast<int>(Bytes.size() + Padding.size());
}

int WideTextArgument(const printf_info*, size_t Count, int* Types, int*)
{
    if (Count > 0)
        Types[0] = PA_WSTRING;
    return 1;
}

// Before main, and so before any thread formats.
__attribute__((constructor)) void RegisterWideTextConversion()
{
    register_printf_specifier(WideTextConversion, PrintWideText, WideTextArgument);
}

template <typename Char>
constexpr bool IsWide = sizeof(Char) > 1;

template <typename Char>
bool IsFlagOrWidth(Char Character)
{
    return Character == '-' || Character == '+' || Character == ' ' || Character == '#' || Character == '.' ||
           Character == '*' || (Character >= '0' && Character <= '9');
}

// Rewrites one format. Output must hold 2 * length + 16 characters: no
// conversion grows by more than that.
template <typename Char>
void Translate(const Char* Format, Char* Output)
{
    auto Emit = [&](std::string_view Text) {
        for (char Character : Text)
            *Output++ = static_cast<Char>(Character);
    };
    while (*Format)
    {
        if (*Format != '%')
        {
            *Output++ = *Format++;
            continue;
        }
        *Output++ = *Format++;
        if (*Format == '%')
        {
            *Output++ = *Format++;
            continue;
        }
        while (IsFlagOrWidth(*Format))
            *Output++ = *Format++;

        // Length modifiers: 'h' marks narrow text, 'l' and 'w' wide text; the
        // Windows size prefixes I64, I32 and I become their C forms.
        enum class Text
        {
            Default,
            Narrow,
            Wide
        } TextWidth = Text::Default;
        for (;;)
        {
            if (*Format == 'h' && (Format[1] == 's' || Format[1] == 'S' || Format[1] == 'c' || Format[1] == 'C'))
                TextWidth = Text::Narrow, ++Format;
            else if ((*Format == 'l' || *Format == 'w') &&
                     (Format[1] == 's' || Format[1] == 'S' || Format[1] == 'c' || Format[1] == 'C'))
                TextWidth = Text::Wide, ++Format;
            else if (*Format == 'I' && Format[1] == '6' && Format[2] == '4')
                Emit("ll"), Format += 3;
            else if (*Format == 'I' && Format[1] == '3' && Format[2] == '2')
                Format += 3;
            else if (*Format == 'I')
                Emit("z"), ++Format;
            else if (*Format == 'h' || *Format == 'l' || *Format == 'L' || *Format == 'z' || *Format == 'j' ||
                     *Format == 't' || *Format == 'q')
                *Output++ = *Format++;
            else
                break;
        }

        const Char Conversion = *Format;
        if (Conversion == '\0')
            break;
        ++Format;
        if (Conversion == 's' || Conversion == 'S' || Conversion == 'c' || Conversion == 'C')
        {
            // Without a modifier, lower case is the format's own width and
            // upper case the other one.
            const bool Upper = Conversion == 'S' || Conversion == 'C';
            const bool Wide = TextWidth == Text::Wide || (TextWidth == Text::Default && (IsWide<Char> != Upper));
            const bool String = Conversion == 's' || Conversion == 'S';
            if (Wide && String && !IsWide<Char>)
                *Output++ = static_cast<Char>(WideTextConversion);
            else
            {
                if (Wide)
                    *Output++ = 'l';
                *Output++ = String ? 's' : 'c';
            }
        }
        else if (Conversion == 'p')
            Emit("016lX");
        else
            *Output++ = Conversion;
    }
    *Output = 0;
}

template <typename Char>
size_t Length(const Char* Text)
{
    size_t Size = 0;
    while (Text[Size])
        ++Size;
    return Size;
}

int Print(char* Buffer, size_t Size, const char* Format, va_list Arguments)
{
    return vsnprintf(Buffer, Size, Format, Arguments);
}

int Print(wchar_t* Buffer, size_t Size, const wchar_t* Format, va_list Arguments)
{
    return vswprintf(Buffer, Size, Format, Arguments);
}

template <typename Char>
int FormatSecure(Char* Buffer, size_t Size, size_t Count, const Char* Format, va_list Arguments)
{
    if (!Buffer || Size == 0)
        return -1;
    Buffer[0] = 0;
    if (!Format)
        return -1;

    const size_t FormatLength = Length(Format);
    Char Local[1024];
    std::vector<Char> Heap;
    Char* Translated = Local;
    if (2 * FormatLength + 16 > std::size(Local))
    {
        Heap.resize(2 * FormatLength + 16);
        Translated = Heap.data();
    }
    Translate(Format, Translated);

    const size_t Limit = Count == _TRUNCATE || Count >= Size ? Size : Count + 1;
    const int Written = Print(Buffer, Limit, Translated, Arguments);
    Buffer[Limit - 1] = 0;
    if (Written >= 0 && static_cast<size_t>(Written) < Limit)
        return Written;
    // Cut to fit (the wide printf reports that as -1, like a conversion
    // error); either way the buffer holds what fitted, NUL-terminated.
    return -1;
}

} // namespace

int _vsnprintf_s(char* Buffer, size_t Size, size_t Count, const char* Format, va_list Arguments)
{
    return FormatSecure(Buffer, Size, Count, Format, Arguments);
}

int _vsnwprintf_s(wchar_t* Buffer, size_t Size, size_t Count, const wchar_t* Format, va_list Arguments)
{
    return FormatSecure(Buffer, Size, Count, Format, Arguments);
}

int _snprintf_s(char* Buffer, size_t Size, size_t Count, const char* Format, ...)
{
    va_list Arguments;
    va_start(Arguments, Format);
    const int Result = _vsnprintf_s(Buffer, Size, Count, Format, Arguments);
    va_end(Arguments);
    return Result;
}

int _snwprintf_s(wchar_t* Buffer, size_t Size, size_t Count, const wchar_t* Format, ...)
{
    va_list Arguments;
    va_start(Arguments, Format);
    const int Result = _vsnwprintf_s(Buffer, Size, Count, Format, Arguments);
    va_end(Arguments);
    return Result;
}

// The C runtime's secure formatting and string helpers, with the Windows
// conventions: in wide formats "%s" is wide text and "%hs" narrow text, "%p"
// prints the address as 16 upper-case hexadecimal digits.
#pragma once

#include <cstdarg>
#include <cstddef>

constexpr size_t _TRUNCATE = static_cast<size_t>(-1);

// Formats into Buffer of Size characters. With Count _TRUNCATE the text is cut
// to fit and -1 returned when it was cut; otherwise at most Count characters.
// The buffer always ends with a NUL. Returns the characters written, or -1.
int _vsnprintf_s(char* Buffer, size_t Size, size_t Count, const char* Format, va_list Arguments);
int _vsnwprintf_s(wchar_t* Buffer, size_t Size, size_t Count, const wchar_t* Format, va_list Arguments);
int _snprintf_s(char* Buffer, size_t Size, size_t Count, const char* Format, ...);
int _snwprintf_s(wchar_t* Buffer, size_t Size, size_t Count, const wchar_t* Format, ...);

// Appends at most Count characters of Source (all with _TRUNCATE, cut to fit).
// Returns 0, or STRUNCATE (80) when the text was cut.
int wcsncat_s(wchar_t* Destination, size_t Size, const wchar_t* Source, size_t Count);
constexpr int STRUNCATE = 80;

// Decimal value: white space skipped, optional sign, digits up to the first
// other character; 0 without digits. Values past the 32-bit range saturate.
int _wtoi(const wchar_t* Text);

// Ordinal comparison ignoring the case of ASCII letters.
int _wcsicmp(const wchar_t* A, const wchar_t* B);

// Conversion between wide text (UTF-32 here) and UTF-8, without the locale.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace Platform {

// What becomes of bytes that are not UTF-8.
enum class InvalidUtf8
{
    // Each such byte B becomes the lone surrogate U+DC00 + B, which
    // Utf8FromWide turns back into B: names of files and arguments, which
    // are bytes, survive the trip through wide text unchanged.
    Escape,
    // Each invalid sequence becomes U+FFFD, as the Windows conversions do.
    Replace,
    // The conversion fails.
    Fail,
};

// Escapes bytes that are not UTF-8 (InvalidUtf8::Escape).
std::wstring WideFromUtf8(std::string_view Text);
// False only for InvalidUtf8::Fail and an invalid sequence.
bool WideFromUtf8(std::string_view Text, std::wstring& Result, InvalidUtf8 Invalid);
// Escaped bytes (U+DC80 to U+DCFF) become the bytes they stand for; other
// surrogates and values past U+10FFFF become U+FFFD.
std::string Utf8FromWide(std::wstring_view Text);

// Writes the UTF-8 form of Text into Buffer (Size bytes, NUL included), cutting
// at a character boundary when it does not fit; returns the bytes written
// without the NUL. Allocates nothing.
size_t Utf8FromWide(std::wstring_view Text, char* Buffer, size_t Size);

} // namespace Platform

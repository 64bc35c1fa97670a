// Conversion between wide text (UTF-32 here) and UTF-8, without the locale.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace Platform {

// Invalid sequences become U+FFFD.
std::wstring WideFromUtf8(std::string_view Text);
// Strict: false at the first invalid sequence instead of replacing it.
bool WideFromUtf8(std::string_view Text, std::wstring& Result, bool Strict);
std::string Utf8FromWide(std::wstring_view Text);

// Writes the UTF-8 form of Text into Buffer (Size bytes, NUL included), cutting
// at a character boundary when it does not fit; returns the bytes written
// without the NUL. Allocates nothing.
size_t Utf8FromWide(std::wstring_view Text, char* Buffer, size_t Size);

} // namespace Platform

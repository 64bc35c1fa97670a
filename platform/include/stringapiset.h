// Conversion of narrow text.
#pragma once

#include <minwindef.h>

constexpr UINT CP_ACP = 0;
constexpr UINT CP_UTF8 = 65001;
constexpr DWORD MB_ERR_INVALID_CHARS = 0x8;

// Narrow text is UTF-8 on this platform, for CP_ACP too. Wide characters are
// 32 bits: one per code point.
int MultiByteToWideChar(UINT CodePage, DWORD Flags, LPCSTR MultiByteStr, int MultiByte, LPWSTR WideCharStr,
                        int WideChar);

// Resource identifiers and types.
#pragma once

#include <cstdint>

#include <minwindef.h>

#define IS_INTRESOURCE(Value) ((reinterpret_cast<uintptr_t>(Value) >> 16) == 0)
#define MAKEINTRESOURCEW(Value) (reinterpret_cast<LPWSTR>(static_cast<uintptr_t>(static_cast<WORD>(Value))))
#define MAKEINTRESOURCE(Value) MAKEINTRESOURCEW(Value)

#define RT_RCDATA MAKEINTRESOURCEW(10)

#define MAKELANGID(Primary, Sub) (static_cast<WORD>((static_cast<WORD>(Sub) << 10) | static_cast<WORD>(Primary)))
constexpr WORD LANG_NEUTRAL = 0x00;
constexpr WORD LANG_ENGLISH = 0x09;
constexpr WORD SUBLANG_NEUTRAL = 0x00;
constexpr WORD SUBLANG_ENGLISH_US = 0x01;

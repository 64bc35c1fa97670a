// The exception that a C++ throw raises for a debugger, and what it carries.
#pragma once

#include <minwindef.h>

constexpr DWORD EH_EXCEPTION_NUMBER = 0xE06D7363; // 'msc' | 0xE0000000
constexpr ULONG_PTR EH_MAGIC_NUMBER1 = 0x19930520;
constexpr DWORD EH_EXCEPTION_PARAMETERS = 4;

// Parameters: [0] EH_MAGIC_NUMBER1, [1] the thrown object, [2] the throw
// information below, [3] the load address of the module that threw. All are
// addresses in the throwing process, valid while the throw is reported.
//
// The throw information of this compiler (GCC, Itanium C++ ABI): the thrown
// type's std::type_info, its mangled name (as type_info::name gives it, for
// example "l" for long) and the size of the thrown object (0 when unknown).
struct ThrowInfo
{
    ULONG_PTR pTypeInfo;
    ULONG_PTR pTypeName;
    ULONG_PTR ObjectSize;
};

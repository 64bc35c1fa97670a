// The exception data header of the Microsoft C++ compiler, which mingw-w64
// does not ship: the code and parameters of the exception that a C++ throw
// raises for a debugger (the throw hook, ThrowHook.cpp, raises it before
// every throw), and the throw information that this compiler's throws carry.
#pragma once

#include <windef.h>

#define EH_EXCEPTION_NUMBER 0xE06D7363 // 'msc' | 0xE0000000
#define EH_MAGIC_NUMBER1 0x19930520
#define EH_EXCEPTION_PARAMETERS 4

// Parameters: [0] EH_MAGIC_NUMBER1, [1] the thrown object, [2] the throw
// information below, [3] the image base of the module that threw.
//
// GCC's throws have no throw information of their own: the hook records the
// thrown type's std::type_info, its mangled name (type_info::name, "l" for a
// long) and the size of the thrown object (0 when not known), all in the
// throwing process.
typedef struct _ThrowInfo
{
    ULONG_PTR pTypeInfo;
    ULONG_PTR pTypeName;
    ULONG_PTR ObjectSize;
} ThrowInfo;

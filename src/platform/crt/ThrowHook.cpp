// The throw hook: the executable defines the C++ runtime's throw entry points
// (and exports them, so that throws inside the runtime's own libraries come
// here too), reports each throw as EH_EXCEPTION_NUMBER through
// RaiseException, first chance, and then throws through the real ones.

#include <cxxabi.h>
#include <dlfcn.h>
#include <typeinfo>

#include "../win32/debugapi.h"
#include "ehdata.h"

namespace {

// What the last exception allocation of this thread was for: its object and
// size, which the throw that follows looks up.
thread_local void* LastObject = nullptr;
thread_local size_t LastSize = 0;

template <typename Function>
Function Next(const char* Name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, Name));
}

} // namespace

extern "C" {

void* __cxa_allocate_exception(size_t Size) noexcept
{
    static const auto Real = Next<void* (*)(size_t) noexcept>("__cxa_allocate_exception");
    void* Object = Real(Size);
    LastObject = Object;
    LastSize = Size;
    return Object;
}

void __cxa_throw(void* Object, std::type_info* Type, void(_GLIBCXX_CDTOR_CALLABI* Destructor)(void*))
{
    using Throw = void (*)(void*, std::type_info*, void(_GLIBCXX_CDTOR_CALLABI*)(void*));
    static const auto Real = Next<Throw>("__cxa_throw");

    ThrowInfo Info = {};
    Info.pTypeInfo = reinterpret_cast<ULONG_PTR>(Type);
    Info.pTypeName = reinterpret_cast<ULONG_PTR>(Type ? Type->name() : nullptr);
    Info.ObjectSize = Object == LastObject ? LastSize : 0;
    Dl_info Module = {};
    dladdr(__builtin_return_address(0), &Module);
    const ULONG_PTR Arguments[EH_EXCEPTION_PARAMETERS] = {EH_MAGIC_NUMBER1, reinterpret_cast<ULONG_PTR>(Object),
                                                          reinterpret_cast<ULONG_PTR>(&Info),
                                                          reinterpret_cast<ULONG_PTR>(Module.dli_fbase)};
    RaiseException(EH_EXCEPTION_NUMBER, EXCEPTION_NONCONTINUABLE, EH_EXCEPTION_PARAMETERS, Arguments);
    Real(Object, Type, Destructor);
    __builtin_unreachable();
}

} // extern "C"

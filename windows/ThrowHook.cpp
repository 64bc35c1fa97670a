// The throw hook: every C++ throw of the executable, the C++ runtime's own
// included, first raises EH_EXCEPTION_NUMBER with the thrown object, its type
// and its size, as a first-chance exception for an attached debugger, and
// then throws through GCC's own entry points. The linker sends the calls
// to those entry points here (--wrap, see CMakeLists.txt); the __real_
// names reach the originals. Rethrows (a plain throw; in a handler,
// std::rethrow_exception) are reported with the object they throw again.
//
// The exception is continuable: a debugger that passes it on hands it to
// the vectored handler below, which resumes the throw. GCC's unwinder,
// which sees only its own codes, never meets it.

#include <windows.h>

#include <cxxabi.h>
#include <exception>
#include <iterator>
#include <typeinfo>

#include <ehdata.h>

extern "C" {
void* __real___cxa_allocate_exception(size_t Size) noexcept;
[[noreturn]] void __real___cxa_throw(void* Object, std::type_info* Type, void (*Destructor)(void*));
[[noreturn]] void __real___cxa_rethrow();
}
[[noreturn]] void RealRethrowException(std::exception_ptr Pointer) __asm__(
    "__real__ZSt17rethrow_exceptionNSt15__exception_ptr13exception_ptrE");

namespace {

// The objects this thread allocated last, with their sizes: a throw finds
// its object here, and so does a rethrow on the same thread while the
// object is among the latest. Others are reported without a size.
struct Allocation
{
    const void* Object;
    size_t Size;
};
thread_local Allocation RecentAllocations[16];
thread_local unsigned NextAllocation;

size_t SizeOf(const void* Object)
{
    for (const Allocation& Entry : RecentAllocations)
        if (Object && Entry.Object == Object)
            return Entry.Size;
    return 0;
}

// Set while this thread raises the exception: the vectored handler then
// knows it for the hook's own.
thread_local bool Raising;

LONG CALLBACK ResumeThrow(EXCEPTION_POINTERS* Pointers)
{
    if (Raising && Pointers->ExceptionRecord->ExceptionCode == EH_EXCEPTION_NUMBER)
        return EXCEPTION_CONTINUE_EXECUTION;
    return EXCEPTION_CONTINUE_SEARCH;
}

void Report(void* Object, const std::type_info* Type, void* ReturnAddress)
{
    // Without a debugger nobody would see it.
    if (!IsDebuggerPresent())
        return;
    static const PVOID Handler = AddVectoredExceptionHandler(1, ResumeThrow);
    if (!Handler)
        return;
    HMODULE Module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       static_cast<LPCWSTR>(ReturnAddress), &Module);
    const ThrowInfo Info = {reinterpret_cast<ULONG_PTR>(Type),
                            reinterpret_cast<ULONG_PTR>(Type ? Type->name() : nullptr), SizeOf(Object)};
    const ULONG_PTR Parameters[EH_EXCEPTION_PARAMETERS] = {EH_MAGIC_NUMBER1, reinterpret_cast<ULONG_PTR>(Object),
                                                           reinterpret_cast<ULONG_PTR>(&Info),
                                                           reinterpret_cast<ULONG_PTR>(Module)};
    Raising = true;
    RaiseException(EH_EXCEPTION_NUMBER, 0, EH_EXCEPTION_PARAMETERS, Parameters);
    Raising = false;
}

// The object that an exception pointer holds, its only member.
void* ObjectOf(const std::exception_ptr& Pointer)
{
    static_assert(sizeof Pointer == sizeof(void*));
    return *reinterpret_cast<void* const*>(&Pointer);
}

} // namespace

extern "C" {

void* __wrap___cxa_allocate_exception(size_t Size) noexcept
{
    void* Object = __real___cxa_allocate_exception(Size);
    RecentAllocations[NextAllocation++ % std::size(RecentAllocations)] = {Object, Size};
    return Object;
}

[[noreturn]] void __wrap___cxa_throw(void* Object, std::type_info* Type, void (*Destructor)(void*))
{
    Report(Object, Type, __builtin_return_address(0));
    __real___cxa_throw(Object, Type, Destructor);
}

[[noreturn]] void __wrap___cxa_rethrow()
{
    {
        const std::exception_ptr Current = std::current_exception();
        Report(ObjectOf(Current), Current.__cxa_exception_type(), __builtin_return_address(0));
    }
    __real___cxa_rethrow();
}

} // extern "C"

[[noreturn]] void WrapRethrowException(std::exception_ptr Pointer) __asm__(
    "__wrap__ZSt17rethrow_exceptionNSt15__exception_ptr13exception_ptrE");
[[noreturn]] void WrapRethrowException(std::exception_ptr Pointer)
{
    Report(ObjectOf(Pointer), Pointer.__cxa_exception_type(), __builtin_return_address(0));
    RealRethrowException(std::move(Pointer));
}

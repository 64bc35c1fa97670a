// The throw hook: the executable defines the C++ runtime's throw entry points
// (and exports them, so that throws inside the runtime's own libraries come
// here too), reports each throw as EH_EXCEPTION_NUMBER through
// RaiseException, first chance, and then throws through the real ones.
// Rethrows (a plain throw; in a handler, std::rethrow_exception) are thrown
// exceptions too and are reported the same way, with the object they throw
// again.

#include <cstring>
#include <cxxabi.h>
#include <dlfcn.h>
#include <exception>
#include <mutex>
#include <typeinfo>
#include <utility>

#include <debugapi.h>
#include <ehdata.h>

namespace {

template <typename Function>
Function Next(const char* Name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, Name));
}

// The sizes of the exception objects allocated last, by their address: the
// throw that follows an allocation looks its object up here, and so does a
// rethrow while its object lives. An object no longer held is reported
// without its size.
class ObjectSizes
{
public:
    void Remember(void* Object, size_t Size)
    {
        std::lock_guard Guard(m_Lock);
        m_Entries[m_Next] = {Object, Size};
        m_Next = (m_Next + 1) % Count;
    }
    size_t Find(const void* Object)
    {
        std::lock_guard Guard(m_Lock);
        for (size_t Step = 1; Step <= Count; ++Step)
        {
            const Entry& Candidate = m_Entries[(m_Next + Count - Step) % Count];
            if (Candidate.Object == Object)
                return Candidate.Size;
        }
        return 0;
    }

private:
    static constexpr size_t Count = 64;
    struct Entry
    {
        const void* Object = nullptr;
        size_t Size = 0;
    };
    std::mutex m_Lock;
    Entry m_Entries[Count];
    size_t m_Next = 0;
};

ObjectSizes& Sizes()
{
    static ObjectSizes Instance;
    return Instance;
}

// Raises the thrown-object exception for Object of Type, thrown from the
// module that holds the code at ReturnAddress.
void RaiseThrow(void* Object, const std::type_info* Type, void* ReturnAddress)
{
    ThrowInfo Info = {};
    Info.pTypeInfo = reinterpret_cast<ULONG_PTR>(Type);
    Info.pTypeName = reinterpret_cast<ULONG_PTR>(Type ? Type->name() : nullptr);
    Info.ObjectSize = Object ? Sizes().Find(Object) : 0;
    Dl_info Module = {};
    dladdr(ReturnAddress, &Module);
    const ULONG_PTR Arguments[EH_EXCEPTION_PARAMETERS] = {EH_MAGIC_NUMBER1, reinterpret_cast<ULONG_PTR>(Object),
                                                          reinterpret_cast<ULONG_PTR>(&Info),
                                                          reinterpret_cast<ULONG_PTR>(Module.dli_fbase)};
    RaiseException(EH_EXCEPTION_NUMBER, EXCEPTION_NONCONTINUABLE, EH_EXCEPTION_PARAMETERS, Arguments);
}

// The thrown object that an exception pointer holds: its one member.
void* ObjectOf(const std::exception_ptr& Pointer)
{
    static_assert(sizeof Pointer == sizeof(void*));
    void* Object = nullptr;
    std::memcpy(&Object, &Pointer, sizeof Object);
    return Object;
}

} // namespace

extern "C" {

void* __cxa_allocate_exception(size_t Size) noexcept
{
    static const auto Real = Next<void* (*)(size_t) noexcept>("__cxa_allocate_exception");
    void* Object = Real(Size);
    if (Object)
        Sizes().Remember(Object, Size);
    return Object;
}

void __cxa_throw(void* Object, std::type_info* Type, void(_GLIBCXX_CDTOR_CALLABI* Destructor)(void*))
{
    using Throw = void (*)(void*, std::type_info*, void(_GLIBCXX_CDTOR_CALLABI*)(void*));
    static const auto Real = Next<Throw>("__cxa_throw");
    RaiseThrow(Object, Type, __builtin_return_address(0));
    Real(Object, Type, Destructor);
    __builtin_unreachable();
}

void __cxa_rethrow()
{
    static const auto Real = Next<void (*)()>("__cxa_rethrow");
    {
        // The exception being handled; the pointer is gone before the
        // real rethrow, which never returns.
        const std::exception_ptr Current = std::current_exception();
        RaiseThrow(ObjectOf(Current), Current.__cxa_exception_type(), __builtin_return_address(0));
    }
    Real();
    __builtin_unreachable();
}

} // extern "C"

[[noreturn]] void std::rethrow_exception(std::exception_ptr Pointer)
{
    static const auto Real =
        Next<void (*)(std::exception_ptr)>("_ZSt17rethrow_exceptionNSt15__exception_ptr13exception_ptrE");
    RaiseThrow(ObjectOf(Pointer), Pointer.__cxa_exception_type(), __builtin_return_address(0));
    Real(std::move(Pointer));
    __builtin_unreachable();
}

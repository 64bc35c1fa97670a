// mingw-w64 has no WRL implements.h. What the tool takes from it: classic
// COM objects built on RuntimeClass (one atomic reference count,
// QueryInterface over the listed interfaces, no aggregation), interface
// chains (ChainInterfaces) and Make.
#pragma once

#include <atomic>
#include <new>
#include <utility>

#include <wrl/client.h>

namespace Microsoft::WRL {

enum RuntimeClassType
{
    WinRt = 0x0001,
    ClassicCom = 0x0002,
};

template <unsigned int Flags>
struct RuntimeClassFlags
{
    static const unsigned int value = Flags;
};

// One entry of a RuntimeClass's list that implements First and answers
// QueryInterface for Bases as well, the interfaces First derives from.
template <typename First, typename... Bases>
struct ChainInterfaces : First
{};

namespace Details {

// The pointer that one list entry hands out for Riid, or null.
template <typename Interface>
struct InterfaceCast
{
    static void* For(Interface* Self, REFIID Riid) { return IsEqualGUID(Riid, __uuidof(Interface)) ? Self : nullptr; }
};

template <typename First, typename... Bases>
struct InterfaceCast<ChainInterfaces<First, Bases...>>
{
    static void* For(ChainInterfaces<First, Bases...>* Chain, REFIID Riid)
    {
        First* Self = Chain;
        void* Found = IsEqualGUID(Riid, __uuidof(First)) ? Self : nullptr;
        ((Found = Found ? Found : IsEqualGUID(Riid, __uuidof(Bases)) ? static_cast<Bases*>(Self) : nullptr), ...);
        return Found;
    }
};

template <typename First, typename... Rest>
struct FirstOf
{
    using Type = First;
};

} // namespace Details

template <typename Flags, typename... Interfaces>
class RuntimeClass : public Interfaces...
{
    static_assert(Flags::value == ClassicCom, "only classic COM objects are supported");

public:
    RuntimeClass(const RuntimeClass&) = delete;
    RuntimeClass& operator=(const RuntimeClass&) = delete;

    STDMETHOD(QueryInterface)(REFIID Riid, void** Object) override
    {
        if (!Object)
            return E_POINTER;
        using Primary = typename Details::FirstOf<Interfaces...>::Type;
        void* Found = nullptr;
        if (IsEqualGUID(Riid, __uuidof(IUnknown)))
            Found = static_cast<IUnknown*>(static_cast<Primary*>(this));
        ((Found = Found ? Found : Details::InterfaceCast<Interfaces>::For(this, Riid)), ...);
        *Object = Found;
        if (!Found)
            return E_NOINTERFACE;
        InternalAddRef();
        return S_OK;
    }
    STDMETHOD_(ULONG, AddRef)() override { return InternalAddRef(); }
    STDMETHOD_(ULONG, Release)() override
    {
        const ULONG Count = InternalRelease();
        if (Count == 0)
            delete this;
        return Count;
    }

protected:
    RuntimeClass() = default;
    virtual ~RuntimeClass() = default;

    unsigned long InternalAddRef() noexcept { return ++m_RefCount; }
    unsigned long InternalRelease() noexcept { return --m_RefCount; }
    unsigned long GetRefCount() const noexcept { return m_RefCount.load(); }

private:
    // A new object is held once, by whoever made it (Make).
    std::atomic<ULONG> m_RefCount{1};
};

// A new object of Type, held by the pointer returned; empty when memory ran
// out. What the constructor throws passes on, the memory freed. The pointer
// takes the object's first reference as it is: mingw-w64's ComPtr::Attach
// would add a second one, which nothing releases.
template <typename Type, typename... Arguments>
ComPtr<Type> Make(Arguments&&... Values)
{
    ComPtr<Type> Object;
    *Object.GetAddressOf() = new (std::nothrow) Type(std::forward<Arguments>(Values)...);
    return Object;
}

} // namespace Microsoft::WRL

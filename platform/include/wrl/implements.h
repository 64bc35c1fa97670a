// RuntimeClass: the one base of every COM object, reference counting and
// QueryInterface over a list of interfaces; Make creates such an object.
#pragma once

#include <atomic>
#include <new>
#include <utility>

#include <wrl/client.h>

namespace Microsoft::WRL {

enum RuntimeClassType : unsigned
{
    WinRt = 1,
    ClassicCom = 2,
};

template <unsigned Flags>
struct RuntimeClassFlags
{};

// A list entry that implements First and also answers for the interfaces
// it derives from (an IMFSample is an IMFAttributes). First may also be a
// class that implements the interfaces named after it, such as a shared
// implementation of the attribute methods.
template <typename First, typename... Bases>
struct ChainInterfaces : First
{};

namespace Details {

template <typename Type>
concept HasUuid = requires
{
    UuidOfTraits<Type>::Value;
};

template <typename Entry>
struct InterfaceEntry
{
    using Primary = Entry;
    static bool Find(Primary* Self, REFIID Riid, void** Object)
    {
        if (Riid != UuidOfTraits<Entry>::Value)
            return false;
        *Object = Self;
        return true;
    }
};

template <typename First, typename... Bases>
struct InterfaceEntry<ChainInterfaces<First, Bases...>>
{
    using Primary = First;
    static bool Find(Primary* Self, REFIID Riid, void** Object)
    {
        if constexpr (HasUuid<First>)
            if (Riid == UuidOfTraits<First>::Value)
            {
                *Object = Self;
                return true;
            }
        return ((Riid == UuidOfTraits<Bases>::Value && (*Object = static_cast<Bases*>(Self), true)) || ...);
    }
};

template <typename Entry>
using Primary = typename InterfaceEntry<Entry>::Primary;

} // namespace Details

template <typename Flags, typename First, typename... Rest>
class RuntimeClass : public Details::Primary<First>, public Details::Primary<Rest>...
{
public:
    RuntimeClass() = default;
    RuntimeClass(const RuntimeClass&) = delete;
    RuntimeClass& operator=(const RuntimeClass&) = delete;

    STDMETHODIMP QueryInterface(REFIID Riid, void** Object) override
    {
        if (!Object)
            return E_POINTER;
        *Object = nullptr;
        if (Riid == UuidOfTraits<IUnknown>::Value)
            *Object = static_cast<IUnknown*>(static_cast<Details::Primary<First>*>(this));
        else if (!Find<First, Rest...>(Riid, Object))
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InternalAddRef(); }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG Count = InternalRelease();
        if (Count == 0)
            delete this;
        return Count;
    }

protected:
    virtual ~RuntimeClass() = default;

    ULONG InternalAddRef() noexcept { return m_ReferenceCount.fetch_add(1, std::memory_order_relaxed) + 1; }
    ULONG InternalRelease() noexcept { return m_ReferenceCount.fetch_sub(1, std::memory_order_acq_rel) - 1; }
    ULONG GetRefCount() const noexcept { return m_ReferenceCount.load(std::memory_order_relaxed); }

private:
    template <typename Entry, typename... Others>
    bool Find(REFIID Riid, void** Object)
    {
        if (Details::InterfaceEntry<Entry>::Find(static_cast<Details::Primary<Entry>*>(this), Riid, Object))
            return true;
        if constexpr (sizeof...(Others) > 0)
            return Find<Others...>(Riid, Object);
        else
            return false;
    }

    std::atomic<ULONG> m_ReferenceCount{1};
};

// Creates an object with one reference; empty when memory runs out.
template <typename Type, typename... Arguments>
ComPtr<Type> Make(Arguments&&... Values)
{
    ComPtr<Type> Object;
    Object.Attach(new (std::nothrow) Type(std::forward<Arguments>(Values)...));
    return Object;
}

} // namespace Microsoft::WRL

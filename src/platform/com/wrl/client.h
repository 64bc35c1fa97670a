// ComPtr: the owning reference to a COM interface.
#pragma once

#include <cstddef>
#include <type_traits>
#include <utility>

#include "../unknwn.h"

namespace Microsoft::WRL {

template <typename Interface>
class ComPtr;

namespace Details {

// What &ComPtr gives: an out parameter that drops the old reference first, or
// the ComPtr itself where one is asked for (ComPtr::As).
template <typename Interface>
class ComPtrRef
{
public:
    explicit ComPtrRef(ComPtr<Interface>* Pointer) : m_Pointer(Pointer) {}
    operator ComPtr<Interface>*() const { return m_Pointer; }
    operator Interface**() const { return m_Pointer->ReleaseAndGetAddressOf(); }
    operator void**() const { return reinterpret_cast<void**>(m_Pointer->ReleaseAndGetAddressOf()); }
    Interface* operator*() const { return m_Pointer->Get(); }

private:
    ComPtr<Interface>* m_Pointer;
};

} // namespace Details

template <typename Interface>
class ComPtr
{
public:
    using InterfaceType = Interface;

    ComPtr() noexcept = default;
    ComPtr(std::nullptr_t) noexcept {}
    ComPtr(Interface* Pointer) noexcept : m_Pointer(Pointer) { InternalAddRef(); }
    ComPtr(const ComPtr& Other) noexcept : m_Pointer(Other.m_Pointer) { InternalAddRef(); }
    ComPtr(ComPtr&& Other) noexcept : m_Pointer(std::exchange(Other.m_Pointer, nullptr)) {}
    template <typename Other, typename = std::enable_if_t<std::is_convertible_v<Other*, Interface*>>>
    ComPtr(const ComPtr<Other>& Value) noexcept : m_Pointer(Value.Get())
    {
        InternalAddRef();
    }
    template <typename Other, typename = std::enable_if_t<std::is_convertible_v<Other*, Interface*>>>
    ComPtr(ComPtr<Other>&& Value) noexcept : m_Pointer(Value.Detach())
    {
    }
    ~ComPtr() { InternalRelease(); }

    ComPtr& operator=(const ComPtr& Other) noexcept
    {
        ComPtr(Other).Swap(*this);
        return *this;
    }
    ComPtr& operator=(ComPtr&& Other) noexcept
    {
        ComPtr(std::move(Other)).Swap(*this);
        return *this;
    }
    ComPtr& operator=(Interface* Pointer) noexcept
    {
        ComPtr(Pointer).Swap(*this);
        return *this;
    }
    ComPtr& operator=(std::nullptr_t) noexcept
    {
        InternalRelease();
        return *this;
    }

    void Swap(ComPtr& Other) noexcept { std::swap(m_Pointer, Other.m_Pointer); }

    Interface* Get() const noexcept { return m_Pointer; }
    Interface* operator->() const noexcept { return m_Pointer; }
    explicit operator bool() const noexcept { return m_Pointer != nullptr; }

    Details::ComPtrRef<Interface> operator&() noexcept { return Details::ComPtrRef<Interface>(this); }

    Interface* const* GetAddressOf() const noexcept { return &m_Pointer; }
    Interface** GetAddressOf() noexcept { return &m_Pointer; }
    Interface** ReleaseAndGetAddressOf() noexcept
    {
        InternalRelease();
        return &m_Pointer;
    }

    void Reset() noexcept { InternalRelease(); }
    void Attach(Interface* Pointer) noexcept
    {
        InternalRelease();
        m_Pointer = Pointer;
    }
    Interface* Detach() noexcept { return std::exchange(m_Pointer, nullptr); }

    template <typename Other>
    HRESULT As(ComPtr<Other>* Result) const noexcept
    {
        return m_Pointer->QueryInterface(UuidOfTraits<Other>::Value,
                                         reinterpret_cast<void**>(Result->ReleaseAndGetAddressOf()));
    }
    template <typename Other>
    HRESULT As(Details::ComPtrRef<Other> Result) const noexcept
    {
        return As(static_cast<ComPtr<Other>*>(Result));
    }
    HRESULT AsIID(REFIID Riid, ComPtr<IUnknown>* Result) const noexcept
    {
        return m_Pointer->QueryInterface(Riid, reinterpret_cast<void**>(Result->ReleaseAndGetAddressOf()));
    }
    HRESULT CopyTo(Interface** Result) const noexcept
    {
        InternalAddRef();
        *Result = m_Pointer;
        return S_OK;
    }
    HRESULT CopyTo(REFIID Riid, void** Result) const noexcept { return m_Pointer->QueryInterface(Riid, Result); }

private:
    void InternalAddRef() const noexcept
    {
        if (m_Pointer)
            m_Pointer->AddRef();
    }
    void InternalRelease() noexcept
    {
        if (Interface* Pointer = std::exchange(m_Pointer, nullptr))
            Pointer->Release();
    }

    Interface* m_Pointer = nullptr;
};

template <typename A, typename B>
bool operator==(const ComPtr<A>& Left, const ComPtr<B>& Right) noexcept
{
    return Left.Get() == Right.Get();
}
template <typename A>
bool operator==(const ComPtr<A>& Left, std::nullptr_t) noexcept
{
    return Left.Get() == nullptr;
}

} // namespace Microsoft::WRL

template <typename Interface>
void** IID_PPV_ARGS_Helper(Microsoft::WRL::Details::ComPtrRef<Interface> Reference)
{
    return static_cast<void**>(Reference);
}

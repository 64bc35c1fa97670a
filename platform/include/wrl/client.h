// ComPtr: the owning reference to a COM interface.
#pragma once

#include <cstddef>
#include <type_traits>
#include <utility>

#include <unknwn.h>

namespace Microsoft::WRL {

namespace Details {

// What &ComPtr gives: the smart reference's address where a ComPtr* is
// wanted (As), and its released interface slot where an out pointer is
// wanted (T**, void**, IID_PPV_ARGS).
template <typename Pointer>
class ComPtrRef
{
public:
    using InterfaceType = typename Pointer::InterfaceType;

    explicit ComPtrRef(Pointer* Value) noexcept : m_Pointer(Value) {}

    operator Pointer*() const noexcept { return m_Pointer; }
    operator InterfaceType**() const noexcept { return m_Pointer->ReleaseAndGetAddressOf(); }
    operator void**() const noexcept { return reinterpret_cast<void**>(m_Pointer->ReleaseAndGetAddressOf()); }
    InterfaceType* operator*() const noexcept { return m_Pointer->Get(); }
    InterfaceType** ReleaseAndGetAddressOf() const noexcept { return m_Pointer->ReleaseAndGetAddressOf(); }

private:
    Pointer* m_Pointer;
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
    {}
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

    Details::ComPtrRef<ComPtr> operator&() noexcept { return Details::ComPtrRef<ComPtr>(this); }

    Interface* Get() const noexcept { return m_Pointer; }
    Interface* operator->() const noexcept { return m_Pointer; }
    explicit operator bool() const noexcept { return m_Pointer != nullptr; }

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
    HRESULT As(Details::ComPtrRef<ComPtr<Other>> Result) const noexcept
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

template <typename Pointer>
void** IID_PPV_ARGS_Helper(Microsoft::WRL::Details::ComPtrRef<Pointer> Object)
{
    return static_cast<void**>(Object);
}

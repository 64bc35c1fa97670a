// mingw-w64 10 has no WRL implements.h. What the tool uses of it: classic
// COM objects from RuntimeClass with its reference counting, ChainInterfaces
// and Make. Declarations enough for the compiler to check the tool's use.
#pragma once

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

// Implements First, which derives from the other interfaces listed.
template <typename First, typename... Bases>
struct ChainInterfaces : First
{};

template <typename Flags, typename... Interfaces>
class RuntimeClass : public Interfaces...
{
public:
    STDMETHOD(QueryInterface)(REFIID Riid, void** Object) override;
    STDMETHOD_(ULONG, AddRef)() override;
    STDMETHOD_(ULONG, Release)() override;

protected:
    RuntimeClass() = default;
    virtual ~RuntimeClass() = default;
    unsigned long InternalAddRef() noexcept;
    unsigned long InternalRelease() noexcept;
    unsigned long GetRefCount() const noexcept;
};

template <typename Type, typename... Arguments>
ComPtr<Type> Make(Arguments&&... Values)
{
    ComPtr<Type> Object;
    Object.Attach(new (std::nothrow) Type(std::forward<Arguments>(Values)...));
    return Object;
}

} // namespace Microsoft::WRL

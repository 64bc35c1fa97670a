// IUnknown, the root of every interface.
#pragma once

#include <cstdint>

#include <guiddef.h>
#include <winerror.h>

typedef uint32_t ULONG;

#define STDMETHODCALLTYPE
#define STDMETHOD(Method) virtual HRESULT STDMETHODCALLTYPE Method
#define STDMETHOD_(Type, Method) virtual Type STDMETHODCALLTYPE Method
#define STDMETHODIMP HRESULT STDMETHODCALLTYPE
#define STDMETHODIMP_(Type) Type STDMETHODCALLTYPE
#define IFACEMETHODIMP STDMETHODIMP
#define IFACEMETHODIMP_(Type) STDMETHODIMP_(Type)

struct IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID Riid, void** Object) = 0;
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;

    template <typename Interface>
    HRESULT QueryInterface(Interface** Object)
    {
        return QueryInterface(UuidOfTraits<Interface>::Value, reinterpret_cast<void**>(Object));
    }

protected:
    ~IUnknown() = default;
};
DECLARE_UUIDOF(IUnknown, 0x00000000, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

template <typename Interface>
void** IID_PPV_ARGS_Helper(Interface** Object)
{
    static_assert(std::is_base_of_v<IUnknown, Interface>, "IID_PPV_ARGS needs a COM interface");
    return reinterpret_cast<void**>(Object);
}
#define IID_PPV_ARGS(Object) __uuidof(**(Object)), IID_PPV_ARGS_Helper(Object)

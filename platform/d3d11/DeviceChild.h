// The base of every object that a device makes: it shares the device's state
// and reports the device.
#pragma once

#include <memory>

#include <wrl/implements.h>

#include "DeviceState.h"

namespace Platform::D3D11 {

template <typename... Interfaces>
class DeviceChild
    : public Microsoft::WRL::RuntimeClass<Microsoft::WRL::RuntimeClassFlags<Microsoft::WRL::ClassicCom>, Interfaces...>
{
public:
    explicit DeviceChild(std::shared_ptr<DeviceState> State) : m_State(std::move(State)) {}

    STDMETHODIMP_(void) GetDevice(ID3D11Device** Device) override { m_State->GetDevice(Device); }

    const std::shared_ptr<DeviceState>& State() const { return m_State; }

protected:
    std::shared_ptr<DeviceState> m_State;
};

// The end of every Create: the object to a caller who asked for it, S_FALSE
// to one who only had the description checked.
template <typename Object, typename Interface>
HRESULT HandOut(Microsoft::WRL::ComPtr<Object>& Created, Interface** Result)
{
    if (!Result)
        return S_FALSE;
    *Result = Created.Detach();
    return S_OK;
}

// Direct3D's rules for a resource's usage and CPU access, for buffers and
// textures alike: default and immutable resources are out of the CPU's reach
// (immutable ones take their data at creation), dynamic ones are written by
// it and bound nowhere in NotDynamic, staging ones are bound nowhere.
HRESULT CheckUsage(D3D11_USAGE Usage, UINT CPUAccessFlags, UINT BindFlags, UINT NotDynamic,
                   const D3D11_SUBRESOURCE_DATA* InitialData);

} // namespace Platform::D3D11

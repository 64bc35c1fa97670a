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

} // namespace Platform::D3D11

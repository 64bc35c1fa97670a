// Media helpers: attribute copy and an owning PROPVARIANT.
#pragma once

#include <windows.h>

#include <d3d11.h>
#include <mfapi.h>
#include <mfidl.h>
#include <wrl/client.h>

namespace MF {

// A PROPVARIANT that owns its value and clears it when it goes.
template <int Unused>
class PropVariantT : public PROPVARIANT
{
public:
    PropVariantT() { PropVariantInit(this); }
    ~PropVariantT() { PropVariantClear(this); }
    PropVariantT(const PropVariantT&) = delete;
    PropVariantT& operator=(const PropVariantT&) = delete;

    void Clear();
};

// Copies the item Key from Input to Output; false when Input has no such item.
bool Copy(IMFAttributes* Input, IMFAttributes* Output, REFGUID Key);

} // namespace MF

namespace MF {

// Holds one open device handle on a DXGI device manager for the span of an
// operation; closes it on every way out.
class DxgiDevice
{
public:
    DxgiDevice() = default;
    ~DxgiDevice();
    DxgiDevice(const DxgiDevice&) = delete;
    DxgiDevice& operator=(const DxgiDevice&) = delete;

    void OpenHandle(IMFDXGIDeviceManager* Manager);
    // The device behind the handle, not locked.
    Microsoft::WRL::ComPtr<ID3D11Device> GetService();
    void CloseHandle();

    Microsoft::WRL::ComPtr<IMFDXGIDeviceManager> m_Manager;
    HANDLE m_Handle = nullptr;
};

} // namespace MF

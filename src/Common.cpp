#include "Common.h"

#include "diagnostics/Check.h"

namespace MF {

template <int Unused>
void PropVariantT<Unused>::Clear()
{
    CheckResult(PropVariantClear(this));
}

template class PropVariantT<1>;

bool Copy(IMFAttributes* Input, IMFAttributes* Output, REFGUID Key)
{
    PropVariantT<1> LocalValue;
    if (FAILED(Input->GetItem(Key, &LocalValue)))
        return false;
    CheckResult(Output->SetItem(Key, LocalValue));
    return true;
}

} // namespace MF

namespace MF {

DxgiDevice::~DxgiDevice()
{
    // Unwinding must not throw: a failed close is traced and left.
    try
    {
        CloseHandle();
    }
    catch (const ComException&)
    {}
}

void DxgiDevice::OpenHandle(IMFDXGIDeviceManager* Manager)
{
    CheckResult(Manager->OpenDeviceHandle(&m_Handle));
    m_Manager = Manager;
}

Microsoft::WRL::ComPtr<ID3D11Device> DxgiDevice::GetService()
{
    Microsoft::WRL::ComPtr<ID3D11Device> Device;
    CheckResult(m_Manager->GetVideoService(m_Handle, IID_PPV_ARGS(&Device)));
    return Device;
}

void DxgiDevice::CloseHandle()
{
    if (!m_Handle)
        return;
    CheckResult(m_Manager->CloseDeviceHandle(m_Handle));
    m_Handle = nullptr;
}

} // namespace MF

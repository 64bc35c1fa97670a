#include "DeviceChild.h"

namespace Platform::D3D11 {

HRESULT CheckUsage(D3D11_USAGE Usage, UINT CPUAccessFlags, UINT BindFlags, UINT NotDynamic,
                   const D3D11_SUBRESOURCE_DATA* InitialData)
{
    const UINT CpuAccess = CPUAccessFlags & (D3D11_CPU_ACCESS_READ | D3D11_CPU_ACCESS_WRITE);
    switch (Usage)
    {
    case D3D11_USAGE_DEFAULT: return CpuAccess ? E_INVALIDARG : S_OK;
    case D3D11_USAGE_IMMUTABLE: return CpuAccess || !InitialData ? E_INVALIDARG : S_OK;
    case D3D11_USAGE_DYNAMIC:
        return CpuAccess != D3D11_CPU_ACCESS_WRITE || (BindFlags & NotDynamic) ? E_INVALIDARG : S_OK;
    case D3D11_USAGE_STAGING: return !CpuAccess || BindFlags ? E_INVALIDARG : S_OK;
    default: return E_INVALIDARG;
    }
}

} // namespace Platform::D3D11

// DXGI: the factory and the adapters it enumerates.
#pragma once

#include <windows.h>

#include <dxgicommon.h>
#include <dxgiformat.h>

enum DXGI_ADAPTER_FLAG : unsigned
{
    DXGI_ADAPTER_FLAG_NONE = 0,
    DXGI_ADAPTER_FLAG_REMOTE = 1,
    DXGI_ADAPTER_FLAG_SOFTWARE = 2,
};

struct DXGI_ADAPTER_DESC
{
    WCHAR Description[128];
    UINT VendorId;
    UINT DeviceId;
    UINT SubSysId;
    UINT Revision;
    SIZE_T DedicatedVideoMemory;
    SIZE_T DedicatedSystemMemory;
    SIZE_T SharedSystemMemory;
    LUID AdapterLuid;
};

struct DXGI_ADAPTER_DESC1
{
    WCHAR Description[128];
    UINT VendorId;
    UINT DeviceId;
    UINT SubSysId;
    UINT Revision;
    SIZE_T DedicatedVideoMemory;
    SIZE_T DedicatedSystemMemory;
    SIZE_T SharedSystemMemory;
    LUID AdapterLuid;
    UINT Flags;
};

struct DXGI_SWAP_CHAIN_DESC;
struct IDXGIOutput;
struct IDXGISwapChain;

struct IDXGIObject : IUnknown
{
    STDMETHOD(SetPrivateData)(REFGUID Name, UINT DataSize, const void* Data) = 0;
    STDMETHOD(SetPrivateDataInterface)(REFGUID Name, const IUnknown* Unknown) = 0;
    STDMETHOD(GetPrivateData)(REFGUID Name, UINT* DataSize, void* Data) = 0;
    STDMETHOD(GetParent)(REFIID Riid, void** Parent) = 0;

protected:
    ~IDXGIObject() = default;
};
DECLARE_UUIDOF(IDXGIObject, 0xaec22fb8, 0x76f3, 0x4639, 0x9b, 0xe0, 0x28, 0xeb, 0x43, 0xa6, 0x7a, 0x2e);

struct IDXGIAdapter : IDXGIObject
{
    // Outputs (monitors) are not part of this platform: always DXGI_ERROR_NOT_FOUND.
    STDMETHOD(EnumOutputs)(UINT Output, IDXGIOutput** Result) = 0;
    STDMETHOD(GetDesc)(DXGI_ADAPTER_DESC* Desc) = 0;
    STDMETHOD(CheckInterfaceSupport)(REFGUID InterfaceName, LARGE_INTEGER* UMDVersion) = 0;

protected:
    ~IDXGIAdapter() = default;
};
DECLARE_UUIDOF(IDXGIAdapter, 0x2411e7e1, 0x12ac, 0x4ccf, 0xbd, 0x14, 0x97, 0x98, 0xe8, 0x53, 0x4d, 0xc0);

struct IDXGIAdapter1 : IDXGIAdapter
{
    STDMETHOD(GetDesc1)(DXGI_ADAPTER_DESC1* Desc) = 0;

protected:
    ~IDXGIAdapter1() = default;
};
DECLARE_UUIDOF(IDXGIAdapter1, 0x29038f61, 0x3839, 0x4626, 0x91, 0xfd, 0x08, 0x68, 0x79, 0x01, 0x1a, 0x05);

struct IDXGIFactory : IDXGIObject
{
    // Adapters by zero-based index: hardware adapters first, software ones
    // last; DXGI_ERROR_NOT_FOUND past the last.
    STDMETHOD(EnumAdapters)(UINT Adapter, IDXGIAdapter** Result) = 0;
    STDMETHOD(MakeWindowAssociation)(HWND Window, UINT Flags) = 0;
    STDMETHOD(GetWindowAssociation)(HWND* Window) = 0;
    STDMETHOD(CreateSwapChain)(IUnknown* Device, DXGI_SWAP_CHAIN_DESC* Desc, IDXGISwapChain** SwapChain) = 0;
    STDMETHOD(CreateSoftwareAdapter)(HMODULE Module, IDXGIAdapter** Result) = 0;

protected:
    ~IDXGIFactory() = default;
};
DECLARE_UUIDOF(IDXGIFactory, 0x7b7166ec, 0x21c7, 0x44ae, 0xb2, 0x1a, 0xc9, 0xae, 0x32, 0x1a, 0xe3, 0x69);

struct IDXGIFactory1 : IDXGIFactory
{
    STDMETHOD(EnumAdapters1)(UINT Adapter, IDXGIAdapter1** Result) = 0;
    STDMETHOD_(BOOL, IsCurrent)() = 0;

protected:
    ~IDXGIFactory1() = default;
};
DECLARE_UUIDOF(IDXGIFactory1, 0x770aae78, 0xf26f, 0x4dba, 0xa8, 0x29, 0x25, 0x3c, 0x83, 0xd1, 0xb3, 0x87);

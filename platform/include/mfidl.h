// Media Foundation pipeline interfaces: video sample allocators and the DXGI
// device manager.
#pragma once

#include <mfobjects.h>

struct IMFVideoSampleAllocator : IUnknown
{
    STDMETHOD(SetDirectXManager)(IUnknown* pManager) = 0;
    STDMETHOD(UninitializeSampleAllocator)() = 0;
    STDMETHOD(InitializeSampleAllocator)(DWORD cRequestedFrames, IMFMediaType* pMediaType) = 0;
    STDMETHOD(AllocateSample)(IMFSample** ppSample) = 0;
};
DECLARE_UUIDOF(IMFVideoSampleAllocator, 0x86cbc910, 0xe533, 0x4751, 0x8e, 0x3b, 0xf1, 0x9b, 0x5b, 0x80, 0x6a, 0x03);

struct IMFVideoSampleAllocatorEx : IMFVideoSampleAllocator
{
    STDMETHOD(InitializeSampleAllocatorEx)
    (DWORD cInitialSamples, DWORD cMaximumSamples, IMFAttributes* pAttributes, IMFMediaType* pMediaType) = 0;
};
DECLARE_UUIDOF(IMFVideoSampleAllocatorEx, 0x545b3a48, 0x3283, 0x4f62, 0x86, 0x6f, 0xa6, 0x2d, 0x8f, 0x59, 0x8f, 0x9f);

struct IMFVideoSampleAllocatorNotify : IUnknown
{
    STDMETHOD(NotifyRelease)() = 0;
};
DECLARE_UUIDOF(IMFVideoSampleAllocatorNotify, 0xa792cdbe, 0xc374, 0x4e89, 0x83, 0x35, 0x27, 0x8e, 0x7b, 0x99, 0x56,
               0xa4);

struct IMFVideoSampleAllocatorCallback : IUnknown
{
    STDMETHOD(SetCallback)(IMFVideoSampleAllocatorNotify* pNotify) = 0;
    STDMETHOD(GetFreeSampleCount)(LONG* plSamples) = 0;
};
DECLARE_UUIDOF(IMFVideoSampleAllocatorCallback, 0x992388b4, 0x3372, 0x4f67, 0x8b, 0x6f, 0xc8, 0x4c, 0x07, 0x1f, 0x47,
               0x51);

struct IMFDXGIDeviceManager : IUnknown
{
    STDMETHOD(CloseDeviceHandle)(HANDLE hDevice) = 0;
    STDMETHOD(GetVideoService)(HANDLE hDevice, REFIID riid, void** ppService) = 0;
    STDMETHOD(LockDevice)(HANDLE hDevice, REFIID riid, void** ppUnkDevice, BOOL fBlock) = 0;
    STDMETHOD(OpenDeviceHandle)(HANDLE* phDevice) = 0;
    STDMETHOD(ResetDevice)(IUnknown* pUnkDevice, UINT resetToken) = 0;
    STDMETHOD(TestDevice)(HANDLE hDevice) = 0;
    STDMETHOD(UnlockDevice)(HANDLE hDevice, BOOL fSaveState) = 0;
};
DECLARE_UUIDOF(IMFDXGIDeviceManager, 0xeb533d5d, 0x2db6, 0x40f8, 0x97, 0xa9, 0x49, 0x46, 0x92, 0x01, 0x4f, 0x07);

// The device manager's answers about handles.
constexpr HRESULT MF_E_DXGI_DEVICE_NOT_INITIALIZED = MakeHresult(0x80041000);
constexpr HRESULT MF_E_DXGI_NEW_VIDEO_DEVICE = MakeHresult(0x80041001);
constexpr HRESULT MF_E_DXGI_VIDEO_DEVICE_LOCKED = MakeHresult(0x80041002);

HRESULT MFCreateDXGIDeviceManager(UINT* resetToken, IMFDXGIDeviceManager** ppDeviceManager);

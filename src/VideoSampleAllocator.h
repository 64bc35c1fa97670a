// The tool's video sample allocator: a fixed pool of texture-backed samples
// that come back to the pool by themselves when their users release them.
#pragma once

#include <vector>

#include <windows.h>

#include <d3d11.h>
#include <evr.h>
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <wrl/client.h>
#include <wrl/implements.h>
#include <wrl/wrappers/corewrappers.h>

#include "TypeUuid.h"

// A sample that wraps an ordinary one and, once only its pending result holds
// it, hands that result to the work queue so that the allocator takes it back.
class VideoSample final
    : public Microsoft::WRL::RuntimeClass<Microsoft::WRL::RuntimeClassFlags<Microsoft::WRL::ClassicCom>, IMFSample,
                                          IMFTrackedSample>
{
public:
    VideoSample();

    STDMETHODIMP_(ULONG) Release() override;

    // IMFAttributes
    STDMETHODIMP GetItem(REFGUID guidKey, PROPVARIANT* pValue) override;
    STDMETHODIMP GetItemType(REFGUID guidKey, MF_ATTRIBUTE_TYPE* pType) override;
    STDMETHODIMP CompareItem(REFGUID guidKey, REFPROPVARIANT Value, BOOL* pbResult) override;
    STDMETHODIMP Compare(IMFAttributes* pTheirs, MF_ATTRIBUTES_MATCH_TYPE MatchType, BOOL* pbResult) override;
    STDMETHODIMP GetUINT32(REFGUID guidKey, UINT32* punValue) override;
    STDMETHODIMP GetUINT64(REFGUID guidKey, UINT64* punValue) override;
    STDMETHODIMP GetDouble(REFGUID guidKey, double* pfValue) override;
    STDMETHODIMP GetGUID(REFGUID guidKey, GUID* pguidValue) override;
    STDMETHODIMP GetStringLength(REFGUID guidKey, UINT32* pcchLength) override;
    STDMETHODIMP GetString(REFGUID guidKey, LPWSTR pwszValue, UINT32 cchBufSize, UINT32* pcchLength) override;
    STDMETHODIMP GetAllocatedString(REFGUID guidKey, LPWSTR* ppwszValue, UINT32* pcchLength) override;
    STDMETHODIMP GetBlobSize(REFGUID guidKey, UINT32* pcbBlobSize) override;
    STDMETHODIMP GetBlob(REFGUID guidKey, UINT8* pBuf, UINT32 cbBufSize, UINT32* pcbBlobSize) override;
    STDMETHODIMP GetAllocatedBlob(REFGUID guidKey, UINT8** ppBuf, UINT32* pcbSize) override;
    STDMETHODIMP GetUnknown(REFGUID guidKey, REFIID riid, LPVOID* ppv) override;
    STDMETHODIMP SetItem(REFGUID guidKey, REFPROPVARIANT Value) override;
    STDMETHODIMP DeleteItem(REFGUID guidKey) override;
    STDMETHODIMP DeleteAllItems() override;
    STDMETHODIMP SetUINT32(REFGUID guidKey, UINT32 unValue) override;
    STDMETHODIMP SetUINT64(REFGUID guidKey, UINT64 unValue) override;
    STDMETHODIMP SetDouble(REFGUID guidKey, double fValue) override;
    STDMETHODIMP SetGUID(REFGUID guidKey, REFGUID guidValue) override;
    STDMETHODIMP SetString(REFGUID guidKey, LPCWSTR wszValue) override;
    STDMETHODIMP SetBlob(REFGUID guidKey, const UINT8* pBuf, UINT32 cbBufSize) override;
    STDMETHODIMP SetUnknown(REFGUID guidKey, IUnknown* pUnknown) override;
    STDMETHODIMP LockStore() override;
    STDMETHODIMP UnlockStore() override;
    STDMETHODIMP GetCount(UINT32* pcItems) override;
    STDMETHODIMP GetItemByIndex(UINT32 unIndex, GUID* pguidKey, PROPVARIANT* pValue) override;
    STDMETHODIMP CopyAllItems(IMFAttributes* pDest) override;

    // IMFSample
    STDMETHODIMP GetSampleFlags(DWORD* pdwSampleFlags) override;
    STDMETHODIMP SetSampleFlags(DWORD dwSampleFlags) override;
    STDMETHODIMP GetSampleTime(LONGLONG* phnsSampleTime) override;
    STDMETHODIMP SetSampleTime(LONGLONG hnsSampleTime) override;
    STDMETHODIMP GetSampleDuration(LONGLONG* phnsSampleDuration) override;
    STDMETHODIMP SetSampleDuration(LONGLONG hnsSampleDuration) override;
    STDMETHODIMP GetBufferCount(DWORD* pdwBufferCount) override;
    STDMETHODIMP GetBufferByIndex(DWORD dwIndex, IMFMediaBuffer** ppBuffer) override;
    STDMETHODIMP ConvertToContiguousBuffer(IMFMediaBuffer** ppBuffer) override;
    STDMETHODIMP AddBuffer(IMFMediaBuffer* pBuffer) override;
    STDMETHODIMP RemoveBufferByIndex(DWORD dwIndex) override;
    STDMETHODIMP RemoveAllBuffers() override;
    STDMETHODIMP GetTotalLength(DWORD* pcbTotalLength) override;
    STDMETHODIMP CopyToBuffer(IMFMediaBuffer* pBuffer) override;

    // IMFTrackedSample
    STDMETHODIMP SetAllocator(IMFAsyncCallback* AllocatorAsyncCallback, IUnknown* StateUnknown) override;

private:
    ~VideoSample() override = default;

    Microsoft::WRL::ComPtr<IMFSample> m_Sample;
    Microsoft::WRL::Wrappers::SRWLock m_Lock;
    Microsoft::WRL::ComPtr<IMFAsyncResult> m_AsyncResult;
};

// The sample attribute that records the pool slot a sample was handed out from.
DECLARE_TYPE_UUID(SampleIndex, "040b1884-ce9c-4005-9b29-96f32f67a501", 0x040b1884, 0xce9c, 0x4005, 0x9b, 0x29, 0x96,
                  0xf3, 0x2f, 0x67, 0xa5, 0x01);
// Asks for textures shared through an NT handle with a keyed mutex.
DECLARE_TYPE_UUID(SharedNtHandle, "3db9af74-3e9c-45a7-8144-bfa5157c228b", 0x3db9af74, 0x3e9c, 0x45a7, 0x81, 0x44, 0xbf,
                  0xa5, 0x15, 0x7c, 0x22, 0x8b);

class VideoSampleAllocator final
    : public Microsoft::WRL::RuntimeClass<
          Microsoft::WRL::RuntimeClassFlags<Microsoft::WRL::ClassicCom>,
          Microsoft::WRL::ChainInterfaces<IMFVideoSampleAllocatorEx, IMFVideoSampleAllocator>,
          IMFVideoSampleAllocatorCallback, IMFAsyncCallback>
{
public:
    // One pool slot: set while its sample is free, empty while it is out.
    class Item
    {
    public:
        Item(ID3D11Texture2D* Texture, size_t Index);

        Microsoft::WRL::ComPtr<IMFSample> m_Sample;

    private:
        void Initialize(ID3D11Texture2D* Texture);
    };

    VideoSampleAllocator();

    // IMFVideoSampleAllocator
    STDMETHODIMP SetDirectXManager(IUnknown* ManagerUnknown) override;
    STDMETHODIMP UninitializeSampleAllocator() override;
    STDMETHODIMP InitializeSampleAllocator(DWORD SampleCount, IMFMediaType* MediaType) override;
    STDMETHODIMP AllocateSample(IMFSample** Sample) override;

    // IMFVideoSampleAllocatorEx
    STDMETHODIMP InitializeSampleAllocatorEx(DWORD InitialSampleCount, DWORD MaximalSampleCount,
                                             IMFAttributes* Attributes, IMFMediaType* MediaType) override;

    // IMFVideoSampleAllocatorCallback
    STDMETHODIMP SetCallback(IMFVideoSampleAllocatorNotify* Notify) override;
    STDMETHODIMP GetFreeSampleCount(LONG* pnSampleCount) override;

    // IMFAsyncCallback
    STDMETHODIMP GetParameters(DWORD* Flags, DWORD* Queue) override;
    STDMETHODIMP Invoke(IMFAsyncResult* AsyncResult) override;

private:
    ~VideoSampleAllocator() override;

    Microsoft::WRL::Wrappers::SRWLock m_InitializationLock;
    Microsoft::WRL::Wrappers::SRWLock m_DataLock;
    Microsoft::WRL::ComPtr<IMFDXGIDeviceManager> m_DxgiDeviceManager;
    std::vector<Item> m_ItemVector;
    size_t m_LastItemIndex;
    Microsoft::WRL::ComPtr<IMFVideoSampleAllocatorNotify> m_Notify;
};

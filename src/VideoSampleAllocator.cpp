// The video sample allocator and its tracked samples.

#include "VideoSampleAllocator.h"

#include "diagnostics/Check.h"

VideoSample::VideoSample()
{
    CheckResult(MFCreateSample(m_Sample.GetAddressOf()));
}

ULONG VideoSample::Release()
{
    const ULONG Count = InternalRelease();
    if (Count == 0)
    {
        delete this;
        return 0;
    }
    if (Count == 1)
    {
        // Only the pending result holds the sample now: send it home.
        Microsoft::WRL::ComPtr<IMFAsyncResult> AsyncResult;
        {
            auto Lock = m_Lock.LockExclusive();
            AsyncResult = std::move(m_AsyncResult);
        }
        if (AsyncResult)
            MFInvokeCallback(AsyncResult.Get());
    }
    return Count;
}

HRESULT VideoSample::SetAllocator(IMFAsyncCallback* AllocatorAsyncCallback, IUnknown* StateUnknown)
{
    try
    {
        CheckCondition(AllocatorAsyncCallback, E_INVALIDARG);
        auto Lock = m_Lock.LockExclusive();
        CheckCondition(!m_AsyncResult, MF_E_NOTACCEPTING);
        CheckResult(MFCreateAsyncResult((IMFTrackedSample*) this, AllocatorAsyncCallback, StateUnknown, m_AsyncResult.GetAddressOf()));
    }
    catch (const ComException& Exception)
    {
        return Exception.m_Result;
    }
    return S_OK;
}

// Everything else goes unchanged to the wrapped sample.
HRESULT VideoSample::GetItem(REFGUID guidKey, PROPVARIANT* pValue) { return m_Sample->GetItem(guidKey, pValue); }
HRESULT VideoSample::GetItemType(REFGUID guidKey, MF_ATTRIBUTE_TYPE* pType) { return m_Sample->GetItemType(guidKey, pType); }
HRESULT VideoSample::CompareItem(REFGUID guidKey, REFPROPVARIANT Value, BOOL* pbResult) { return m_Sample->CompareItem(guidKey, Value, pbResult); }
HRESULT VideoSample::Compare(IMFAttributes* pTheirs, MF_ATTRIBUTES_MATCH_TYPE MatchType, BOOL* pbResult) { return m_Sample->Compare(pTheirs, MatchType, pbResult); }
HRESULT VideoSample::GetUINT32(REFGUID guidKey, UINT32* punValue) { return m_Sample->GetUINT32(guidKey, punValue); }
HRESULT VideoSample::GetUINT64(REFGUID guidKey, UINT64* punValue) { return m_Sample->GetUINT64(guidKey, punValue); }
HRESULT VideoSample::GetDouble(REFGUID guidKey, double* pfValue) { return m_Sample->GetDouble(guidKey, pfValue); }
HRESULT VideoSample::GetGUID(REFGUID guidKey, GUID* pguidValue) { return m_Sample->GetGUID(guidKey, pguidValue); }
HRESULT VideoSample::GetStringLength(REFGUID guidKey, UINT32* pcchLength) { return m_Sample->GetStringLength(guidKey, pcchLength); }
HRESULT VideoSample::GetString(REFGUID guidKey, LPWSTR pwszValue, UINT32 cchBufSize, UINT32* pcchLength) { return m_Sample->GetString(guidKey, pwszValue, cchBufSize, pcchLength); }
HRESULT VideoSample::GetAllocatedString(REFGUID guidKey, LPWSTR* ppwszValue, UINT32* pcchLength) { return m_Sample->GetAllocatedString(guidKey, ppwszValue, pcchLength); }
HRESULT VideoSample::GetBlobSize(REFGUID guidKey, UINT32* pcbBlobSize) { return m_Sample->GetBlobSize(guidKey, pcbBlobSize); }
HRESULT VideoSample::GetBlob(REFGUID guidKey, UINT8* pBuf, UINT32 cbBufSize, UINT32* pcbBlobSize) { return m_Sample->GetBlob(guidKey, pBuf, cbBufSize, pcbBlobSize); }
HRESULT VideoSample::GetAllocatedBlob(REFGUID guidKey, UINT8** ppBuf, UINT32* pcbSize) { return m_Sample->GetAllocatedBlob(guidKey, ppBuf, pcbSize); }
HRESULT VideoSample::GetUnknown(REFGUID guidKey, REFIID riid, LPVOID* ppv) { return m_Sample->GetUnknown(guidKey, riid, ppv); }
HRESULT VideoSample::SetItem(REFGUID guidKey, REFPROPVARIANT Value) { return m_Sample->SetItem(guidKey, Value); }
HRESULT VideoSample::DeleteItem(REFGUID guidKey) { return m_Sample->DeleteItem(guidKey); }
HRESULT VideoSample::DeleteAllItems() { return m_Sample->DeleteAllItems(); }
HRESULT VideoSample::SetUINT32(REFGUID guidKey, UINT32 unValue) { return m_Sample->SetUINT32(guidKey, unValue); }
HRESULT VideoSample::SetUINT64(REFGUID guidKey, UINT64 unValue) { return m_Sample->SetUINT64(guidKey, unValue); }
HRESULT VideoSample::SetDouble(REFGUID guidKey, double fValue) { return m_Sample->SetDouble(guidKey, fValue); }
HRESULT VideoSample::SetGUID(REFGUID guidKey, REFGUID guidValue) { return m_Sample->SetGUID(guidKey, guidValue); }
HRESULT VideoSample::SetString(REFGUID guidKey, LPCWSTR wszValue) { return m_Sample->SetString(guidKey, wszValue); }
HRESULT VideoSample::SetBlob(REFGUID guidKey, const UINT8* pBuf, UINT32 cbBufSize) { return m_Sample->SetBlob(guidKey, pBuf, cbBufSize); }
HRESULT VideoSample::SetUnknown(REFGUID guidKey, IUnknown* pUnknown) { return m_Sample->SetUnknown(guidKey, pUnknown); }
HRESULT VideoSample::LockStore() { return m_Sample->LockStore(); }
HRESULT VideoSample::UnlockStore() { return m_Sample->UnlockStore(); }
HRESULT VideoSample::GetCount(UINT32* pcItems) { return m_Sample->GetCount(pcItems); }
HRESULT VideoSample::GetItemByIndex(UINT32 unIndex, GUID* pguidKey, PROPVARIANT* pValue) { return m_Sample->GetItemByIndex(unIndex, pguidKey, pValue); }
HRESULT VideoSample::CopyAllItems(IMFAttributes* pDest) { return m_Sample->CopyAllItems(pDest); }
HRESULT VideoSample::GetSampleFlags(DWORD* pdwSampleFlags) { return m_Sample->GetSampleFlags(pdwSampleFlags); }
HRESULT VideoSample::SetSampleFlags(DWORD dwSampleFlags) { return m_Sample->SetSampleFlags(dwSampleFlags); }
HRESULT VideoSample::GetSampleTime(LONGLONG* phnsSampleTime) { return m_Sample->GetSampleTime(phnsSampleTime); }
HRESULT VideoSample::SetSampleTime(LONGLONG hnsSampleTime) { return m_Sample->SetSampleTime(hnsSampleTime); }
HRESULT VideoSample::GetSampleDuration(LONGLONG* phnsSampleDuration) { return m_Sample->GetSampleDuration(phnsSampleDuration); }
HRESULT VideoSample::SetSampleDuration(LONGLONG hnsSampleDuration) { return m_Sample->SetSampleDuration(hnsSampleDuration); }
HRESULT VideoSample::GetBufferCount(DWORD* pdwBufferCount) { return m_Sample->GetBufferCount(pdwBufferCount); }
HRESULT VideoSample::GetBufferByIndex(DWORD dwIndex, IMFMediaBuffer** ppBuffer) { return m_Sample->GetBufferByIndex(dwIndex, ppBuffer); }
HRESULT VideoSample::ConvertToContiguousBuffer(IMFMediaBuffer** ppBuffer) { return m_Sample->ConvertToContiguousBuffer(ppBuffer); }
HRESULT VideoSample::AddBuffer(IMFMediaBuffer* pBuffer) { return m_Sample->AddBuffer(pBuffer); }
HRESULT VideoSample::RemoveBufferByIndex(DWORD dwIndex) { return m_Sample->RemoveBufferByIndex(dwIndex); }
HRESULT VideoSample::RemoveAllBuffers() { return m_Sample->RemoveAllBuffers(); }
HRESULT VideoSample::GetTotalLength(DWORD* pcbTotalLength) { return m_Sample->GetTotalLength(pcbTotalLength); }
HRESULT VideoSample::CopyToBuffer(IMFMediaBuffer* pBuffer) { return m_Sample->CopyToBuffer(pBuffer); }

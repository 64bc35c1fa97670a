// The video sample allocator and its tracked samples.

#include "VideoSampleAllocator.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "Common.h"
#include "diagnostics/Check.h"

VideoSample::VideoSample() { CheckResult(MFCreateSample(m_Sample.GetAddressOf())); }

ULONG VideoSample::Release()
{
    // The pending result is taken out, and the count dropped, under the lock
    // and while this call still holds its reference: after the decrement
    // another thread may free the sample. With a result set, the count
    // includes the result's own reference, so a count of two means that
    // this release leaves only the result: send the sample home.
    Microsoft::WRL::ComPtr<IMFAsyncResult> AsyncResult;
    ULONG Count;
    {
        auto Lock = m_Lock.LockExclusive();
        if (m_AsyncResult && GetRefCount() == 2)
            AsyncResult = std::move(m_AsyncResult);
        Count = InternalRelease();
    }
    if (Count == 0)
    {
        delete this;
        return 0;
    }
    if (AsyncResult)
        MFInvokeCallback(AsyncResult.Get());
    return Count;
}

HRESULT VideoSample::SetAllocator(IMFAsyncCallback* AllocatorAsyncCallback, IUnknown* StateUnknown)
{
    try
    {
        CheckCondition(AllocatorAsyncCallback, E_INVALIDARG);
        auto Lock = m_Lock.LockExclusive();
        CheckCondition(!m_AsyncResult, MF_E_NOTACCEPTING);
        // The blank after the cast is part of the traced text.
        // clang-format off
        CheckResult(MFCreateAsyncResult((IMFTrackedSample*) this, AllocatorAsyncCallback, StateUnknown, m_AsyncResult.GetAddressOf()));
        // clang-format on
    }
    catch (const ComException& Exception)
    {
        return Exception.m_Result;
    }
    return S_OK;
}

// Everything else goes unchanged to the wrapped sample.
HRESULT VideoSample::GetItem(REFGUID guidKey, PROPVARIANT* pValue) { return m_Sample->GetItem(guidKey, pValue); }
HRESULT VideoSample::GetItemType(REFGUID guidKey, MF_ATTRIBUTE_TYPE* pType)
{
    return m_Sample->GetItemType(guidKey, pType);
}
HRESULT VideoSample::CompareItem(REFGUID guidKey, REFPROPVARIANT Value, BOOL* pbResult)
{
    return m_Sample->CompareItem(guidKey, Value, pbResult);
}
HRESULT VideoSample::Compare(IMFAttributes* pTheirs, MF_ATTRIBUTES_MATCH_TYPE MatchType, BOOL* pbResult)
{
    return m_Sample->Compare(pTheirs, MatchType, pbResult);
}
HRESULT VideoSample::GetUINT32(REFGUID guidKey, UINT32* punValue) { return m_Sample->GetUINT32(guidKey, punValue); }
HRESULT VideoSample::GetUINT64(REFGUID guidKey, UINT64* punValue) { return m_Sample->GetUINT64(guidKey, punValue); }
HRESULT VideoSample::GetDouble(REFGUID guidKey, double* pfValue) { return m_Sample->GetDouble(guidKey, pfValue); }
HRESULT VideoSample::GetGUID(REFGUID guidKey, GUID* pguidValue) { return m_Sample->GetGUID(guidKey, pguidValue); }
HRESULT VideoSample::GetStringLength(REFGUID guidKey, UINT32* pcchLength)
{
    return m_Sample->GetStringLength(guidKey, pcchLength);
}
HRESULT VideoSample::GetString(REFGUID guidKey, LPWSTR pwszValue, UINT32 cchBufSize, UINT32* pcchLength)
{
    return m_Sample->GetString(guidKey, pwszValue, cchBufSize, pcchLength);
}
HRESULT VideoSample::GetAllocatedString(REFGUID guidKey, LPWSTR* ppwszValue, UINT32* pcchLength)
{
    return m_Sample->GetAllocatedString(guidKey, ppwszValue, pcchLength);
}
HRESULT VideoSample::GetBlobSize(REFGUID guidKey, UINT32* pcbBlobSize)
{
    return m_Sample->GetBlobSize(guidKey, pcbBlobSize);
}
HRESULT VideoSample::GetBlob(REFGUID guidKey, UINT8* pBuf, UINT32 cbBufSize, UINT32* pcbBlobSize)
{
    return m_Sample->GetBlob(guidKey, pBuf, cbBufSize, pcbBlobSize);
}
HRESULT VideoSample::GetAllocatedBlob(REFGUID guidKey, UINT8** ppBuf, UINT32* pcbSize)
{
    return m_Sample->GetAllocatedBlob(guidKey, ppBuf, pcbSize);
}
HRESULT VideoSample::GetUnknown(REFGUID guidKey, REFIID riid, LPVOID* ppv)
{
    return m_Sample->GetUnknown(guidKey, riid, ppv);
}
HRESULT VideoSample::SetItem(REFGUID guidKey, REFPROPVARIANT Value) { return m_Sample->SetItem(guidKey, Value); }
HRESULT VideoSample::DeleteItem(REFGUID guidKey) { return m_Sample->DeleteItem(guidKey); }
HRESULT VideoSample::DeleteAllItems() { return m_Sample->DeleteAllItems(); }
HRESULT VideoSample::SetUINT32(REFGUID guidKey, UINT32 unValue) { return m_Sample->SetUINT32(guidKey, unValue); }
HRESULT VideoSample::SetUINT64(REFGUID guidKey, UINT64 unValue) { return m_Sample->SetUINT64(guidKey, unValue); }
HRESULT VideoSample::SetDouble(REFGUID guidKey, double fValue) { return m_Sample->SetDouble(guidKey, fValue); }
HRESULT VideoSample::SetGUID(REFGUID guidKey, REFGUID guidValue) { return m_Sample->SetGUID(guidKey, guidValue); }
HRESULT VideoSample::SetString(REFGUID guidKey, LPCWSTR wszValue) { return m_Sample->SetString(guidKey, wszValue); }
HRESULT VideoSample::SetBlob(REFGUID guidKey, const UINT8* pBuf, UINT32 cbBufSize)
{
    return m_Sample->SetBlob(guidKey, pBuf, cbBufSize);
}
HRESULT VideoSample::SetUnknown(REFGUID guidKey, IUnknown* pUnknown) { return m_Sample->SetUnknown(guidKey, pUnknown); }
HRESULT VideoSample::LockStore() { return m_Sample->LockStore(); }
HRESULT VideoSample::UnlockStore() { return m_Sample->UnlockStore(); }
HRESULT VideoSample::GetCount(UINT32* pcItems) { return m_Sample->GetCount(pcItems); }
HRESULT VideoSample::GetItemByIndex(UINT32 unIndex, GUID* pguidKey, PROPVARIANT* pValue)
{
    return m_Sample->GetItemByIndex(unIndex, pguidKey, pValue);
}
HRESULT VideoSample::CopyAllItems(IMFAttributes* pDest) { return m_Sample->CopyAllItems(pDest); }
HRESULT VideoSample::GetSampleFlags(DWORD* pdwSampleFlags) { return m_Sample->GetSampleFlags(pdwSampleFlags); }
HRESULT VideoSample::SetSampleFlags(DWORD dwSampleFlags) { return m_Sample->SetSampleFlags(dwSampleFlags); }
HRESULT VideoSample::GetSampleTime(LONGLONG* phnsSampleTime) { return m_Sample->GetSampleTime(phnsSampleTime); }
HRESULT VideoSample::SetSampleTime(LONGLONG hnsSampleTime) { return m_Sample->SetSampleTime(hnsSampleTime); }
HRESULT VideoSample::GetSampleDuration(LONGLONG* phnsSampleDuration)
{
    return m_Sample->GetSampleDuration(phnsSampleDuration);
}
HRESULT VideoSample::SetSampleDuration(LONGLONG hnsSampleDuration)
{
    return m_Sample->SetSampleDuration(hnsSampleDuration);
}
HRESULT VideoSample::GetBufferCount(DWORD* pdwBufferCount) { return m_Sample->GetBufferCount(pdwBufferCount); }
HRESULT VideoSample::GetBufferByIndex(DWORD dwIndex, IMFMediaBuffer** ppBuffer)
{
    return m_Sample->GetBufferByIndex(dwIndex, ppBuffer);
}
HRESULT VideoSample::ConvertToContiguousBuffer(IMFMediaBuffer** ppBuffer)
{
    return m_Sample->ConvertToContiguousBuffer(ppBuffer);
}
HRESULT VideoSample::AddBuffer(IMFMediaBuffer* pBuffer) { return m_Sample->AddBuffer(pBuffer); }
HRESULT VideoSample::RemoveBufferByIndex(DWORD dwIndex) { return m_Sample->RemoveBufferByIndex(dwIndex); }
HRESULT VideoSample::RemoveAllBuffers() { return m_Sample->RemoveAllBuffers(); }
HRESULT VideoSample::GetTotalLength(DWORD* pcbTotalLength) { return m_Sample->GetTotalLength(pcbTotalLength); }
HRESULT VideoSample::CopyToBuffer(IMFMediaBuffer* pBuffer) { return m_Sample->CopyToBuffer(pBuffer); }

// The allocator.

namespace {

// Reads an optional UINT32 setting; an absent or mistyped item keeps Default.
UINT32 ReadSetting(IMFAttributes* Attributes, REFGUID Key, UINT32 Default)
{
    UINT32 Value = Default;
    if (Attributes && FAILED(Attributes->GetUINT32(Key, &Value)))
        Value = Default;
    return Value;
}

} // namespace

VideoSampleAllocator::Item::Item(ID3D11Texture2D* Texture, size_t Index)
{
    Initialize(Texture);
    // clang-format off
    CheckResult(m_Sample->SetUINT32(__uuidof(SampleIndex), (UINT32) Index));
    // clang-format on
}

void VideoSampleAllocator::Item::Initialize(ID3D11Texture2D* Texture)
{
    m_Sample = Microsoft::WRL::Make<VideoSample>();
    CheckCondition(m_Sample, E_OUTOFMEMORY);
    const UINT SubresourceIndex = 0;
    const BOOL BottomUpWhenLinear = FALSE;
    Microsoft::WRL::ComPtr<IMFMediaBuffer> MediaBuffer;
    CheckResult(MFCreateDXGISurfaceBuffer(__uuidof(ID3D11Texture2D), Texture, SubresourceIndex, BottomUpWhenLinear,
                                          MediaBuffer.GetAddressOf()));
    Microsoft::WRL::ComPtr<IMF2DBuffer> Buffer;
    CheckResult(MediaBuffer.As(&Buffer));
    DWORD Length;
    CheckResult(Buffer->GetContiguousLength(&Length));
    CheckResult(MediaBuffer->SetCurrentLength(Length));
    CheckResult(m_Sample->AddBuffer(MediaBuffer.Get()));
}

VideoSampleAllocator::VideoSampleAllocator() : m_LastItemIndex(std::numeric_limits<size_t>::max())
{
    TRACE(L"this 0x%p\n", this);
}

VideoSampleAllocator::~VideoSampleAllocator()
{
    TRACE(L"this 0x%p\n", this);
    m_Notify.Reset();
    m_ItemVector.clear();
    m_DxgiDeviceManager.Reset();
}

HRESULT VideoSampleAllocator::SetDirectXManager(IUnknown* ManagerUnknown)
{
    TRACE(L"this 0x%p, ManagerUnknown 0x%p\n", this, ManagerUnknown);
    try
    {
        CheckCondition(ManagerUnknown, E_INVALIDARG);
        Microsoft::WRL::ComPtr<IMFDXGIDeviceManager> DxgiDeviceManager;
        CheckResult(ManagerUnknown->QueryInterface(IID_PPV_ARGS(&DxgiDeviceManager)));
        auto DataLock = m_DataLock.LockExclusive();
        m_DxgiDeviceManager = DxgiDeviceManager;
    }
    catch (const ComException& Exception)
    {
        return Exception.m_Result;
    }
    return S_OK;
}

HRESULT VideoSampleAllocator::UninitializeSampleAllocator()
{
    TRACE(L"this 0x%p\n", this);
    auto InitializationLock = m_InitializationLock.LockExclusive();
    std::vector<Item> ItemVector;
    {
        auto DataLock = m_DataLock.LockExclusive();
        ItemVector.swap(m_ItemVector);
    }
    // Free samples and their textures go here, outside the data lock.
    ItemVector.clear();
    return S_OK;
}

HRESULT VideoSampleAllocator::InitializeSampleAllocator(DWORD SampleCount, IMFMediaType* MediaType)
{
    TRACE(L"this 0x%p, SampleCount %d, MediaType 0x%p\n", this, SampleCount, MediaType);
    try
    {
        CheckCondition(SampleCount > 0 && MediaType, E_INVALIDARG);
    }
    catch (const ComException& Exception)
    {
        return Exception.m_Result;
    }
    return InitializeSampleAllocatorEx(SampleCount, SampleCount, nullptr, MediaType);
}

HRESULT VideoSampleAllocator::InitializeSampleAllocatorEx(DWORD InitialSampleCount, DWORD MaximalSampleCount,
                                                          IMFAttributes* Attributes, IMFMediaType* MediaType)
{
    TRACE(L"this 0x%p, InitialSampleCount %d, MaximalSampleCount %d, Attributes 0x%p, MediaType 0x%p\n", this,
          InitialSampleCount, MaximalSampleCount, Attributes, MediaType);
    try
    {
        CheckCondition(MediaType, E_INVALIDARG);

        const UINT32 MinimumSampleCount = ReadSetting(Attributes, MF_SA_MINIMUM_OUTPUT_SAMPLE_COUNT, 0);
        const UINT32 BindFlags = ReadSetting(Attributes, MF_SA_D3D11_BINDFLAGS, 0);
        const UINT32 Usage = ReadSetting(Attributes, MF_SA_D3D11_USAGE, D3D11_USAGE_DYNAMIC);
        const UINT32 Shared = ReadSetting(Attributes, MF_SA_D3D11_SHARED, 0);
        const UINT32 SharedWithoutMutex = ReadSetting(Attributes, MF_SA_D3D11_SHARED_WITHOUT_MUTEX, 0);
        const UINT32 SharedNtHandleValue = ReadSetting(Attributes, __uuidof(SharedNtHandle), 0);

        UINT32 Width, Height;
        CheckResult(MFGetAttributeSize(MediaType, MF_MT_FRAME_SIZE, &Width, &Height));
        GUID Subtype;
        CheckResult(MediaType->GetGUID(MF_MT_SUBTYPE, &Subtype));
        CheckCondition(Subtype == MFVideoFormat_ARGB32 || Subtype == MFVideoFormat_RGB32 ||
                           Subtype == MFVideoFormat_NV12 || Subtype == MFVideoFormat_YUY2,
                       E_NOTIMPL);
        const DXGI_FORMAT Format = Subtype == MFVideoFormat_NV12   ? DXGI_FORMAT_NV12
                                   : Subtype == MFVideoFormat_YUY2 ? DXGI_FORMAT_YUY2
                                                                   : DXGI_FORMAT_B8G8R8A8_UNORM;

        const DWORD SampleCount =
            std::max({InitialSampleCount, MaximalSampleCount, static_cast<DWORD>(MinimumSampleCount)});
        CheckCondition(SampleCount > 0, E_FAIL);

        auto InitializationLock = m_InitializationLock.LockExclusive();
        auto DataLock = m_DataLock.LockExclusive();
        CheckCondition(m_ItemVector.empty(), E_FAIL);
        CheckCondition(m_DxgiDeviceManager, E_FAIL);

        MF::DxgiDevice DxgiDevice;
        DxgiDevice.OpenHandle(m_DxgiDeviceManager.Get());
        Microsoft::WRL::ComPtr<ID3D11Device> Device = DxgiDevice.GetService();

        D3D11_TEXTURE2D_DESC Description = {};
        Description.Width = Width;
        Description.Height = Height;
        Description.MipLevels = 1;
        Description.ArraySize = 1;
        Description.Format = Format;
        Description.SampleDesc = {1, 0};
        Description.Usage = static_cast<D3D11_USAGE>(Usage);
        Description.BindFlags = BindFlags;
        Description.CPUAccessFlags = Usage == D3D11_USAGE_DEFAULT ? 0u : UINT{D3D11_CPU_ACCESS_WRITE};
        Description.MiscFlags = SharedNtHandleValue
                                    ? UINT{D3D11_RESOURCE_MISC_SHARED_KEYEDMUTEX | D3D11_RESOURCE_MISC_SHARED_NTHANDLE}
                                : Shared             ? UINT{D3D11_RESOURCE_MISC_SHARED_KEYEDMUTEX}
                                : SharedWithoutMutex ? UINT{D3D11_RESOURCE_MISC_SHARED}
                                                     : 0u;

        std::vector<Item> ItemVector;
        try
        {
            ItemVector.reserve(SampleCount);
        }
        catch (const std::bad_alloc&)
        {
            CheckResult(E_OUTOFMEMORY);
        }
        for (DWORD Index = 0; Index < SampleCount; ++Index)
        {
            Microsoft::WRL::ComPtr<ID3D11Texture2D> Texture;
            CheckResult(Device->CreateTexture2D(&Description, nullptr, Texture.GetAddressOf()));
            ItemVector.emplace_back(Texture.Get(), Index);
        }
        m_ItemVector = std::move(ItemVector);
        m_LastItemIndex = 0;
    }
    catch (const ComException& Exception)
    {
        return Exception.m_Result;
    }
    return S_OK;
}

HRESULT VideoSampleAllocator::AllocateSample(IMFSample** Sample)
{
    try
    {
        CheckCondition(Sample, E_POINTER);
        *Sample = nullptr;
        auto DataLock = m_DataLock.LockExclusive();
        CheckCondition(!m_ItemVector.empty(), MF_E_NOT_INITIALIZED);
        const size_t Count = m_ItemVector.size();
        size_t Index = 0;
        bool Found = false;
        for (size_t Offset = 0; Offset < Count && !Found; ++Offset)
        {
            Index = (m_LastItemIndex + 1 + Offset) % Count;
            Found = static_cast<bool>(m_ItemVector[Index].m_Sample);
        }
        if (!Found)
            return MF_E_SAMPLEALLOCATOR_EMPTY;
        Microsoft::WRL::ComPtr<IMFSample> AvailableSample = m_ItemVector[Index].m_Sample;
        CheckResult(AvailableSample->DeleteAllItems());
        // clang-format off
        CheckResult(AvailableSample->SetUINT32(__uuidof(SampleIndex), (UINT32) Index));
        // clang-format on
        m_LastItemIndex = Index;
        Microsoft::WRL::ComPtr<IMFTrackedSample> TrackedSample;
        CheckResult(AvailableSample.As(&TrackedSample));
        CheckResult(TrackedSample->SetAllocator(this, nullptr));
        m_ItemVector[Index].m_Sample.Reset();
        *Sample = AvailableSample.Detach();
    }
    catch (const ComException& Exception)
    {
        return Exception.m_Result;
    }
    return S_OK;
}

HRESULT VideoSampleAllocator::SetCallback(IMFVideoSampleAllocatorNotify* Notify)
{
    TRACE(L"this 0x%p, Notify 0x%p\n", this, Notify);
    Microsoft::WRL::ComPtr<IMFVideoSampleAllocatorNotify> Previous;
    auto DataLock = m_DataLock.LockExclusive();
    Previous = std::exchange(m_Notify, Notify);
    return S_OK;
}

HRESULT VideoSampleAllocator::GetFreeSampleCount(LONG* pnSampleCount)
{
    TRACE(L"this 0x%p\n", this);
    try
    {
        CheckCondition(pnSampleCount, E_POINTER);
        auto DataLock = m_DataLock.LockShared();
        LONG Count = 0;
        for (const Item& Slot : m_ItemVector)
            Count += Slot.m_Sample ? 1 : 0;
        *pnSampleCount = Count;
    }
    catch (const ComException& Exception)
    {
        return Exception.m_Result;
    }
    return S_OK;
}

HRESULT VideoSampleAllocator::GetParameters(DWORD*, DWORD*) { return E_NOTIMPL; }

HRESULT VideoSampleAllocator::Invoke(IMFAsyncResult* AsyncResult)
{
    try
    {
        CheckCondition(AsyncResult, E_INVALIDARG);
        Microsoft::WRL::ComPtr<IUnknown> SampleUnknown;
        CheckResult(AsyncResult->GetObject(&SampleUnknown));
        Microsoft::WRL::ComPtr<IMFSample> Sample;
        CheckResult(SampleUnknown->QueryInterface(IID_PPV_ARGS(&Sample)));
        Microsoft::WRL::ComPtr<IMFVideoSampleAllocatorNotify> Notify;
        {
            auto DataLock = m_DataLock.LockExclusive();
            for (Item& Slot : m_ItemVector)
                if (!Slot.m_Sample)
                {
                    Slot.m_Sample = Sample;
                    Notify = m_Notify;
                    break;
                }
        }
        if (Notify)
            Notify->NotifyRelease();
    }
    catch (const ComException& Exception)
    {
        return Exception.m_Result;
    }
    return S_OK;
}

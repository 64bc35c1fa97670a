// Media Foundation objects: attributes, media types, buffers, samples and
// asynchronous results.
#pragma once

#include <combaseapi.h>
#include <propidl.h>
#include <minwindef.h>
#include <mferror.h>

typedef int64_t MFTIME;
typedef uint64_t QWORD;

enum MF_ATTRIBUTE_TYPE
{
    MF_ATTRIBUTE_UINT32 = VT_UI4,
    MF_ATTRIBUTE_UINT64 = VT_UI8,
    MF_ATTRIBUTE_DOUBLE = VT_R8,
    MF_ATTRIBUTE_GUID = VT_CLSID,
    MF_ATTRIBUTE_STRING = VT_LPWSTR,
    MF_ATTRIBUTE_BLOB = VT_VECTOR | VT_UI1,
    MF_ATTRIBUTE_IUNKNOWN = VT_UNKNOWN,
};

enum MF_ATTRIBUTES_MATCH_TYPE
{
    MF_ATTRIBUTES_MATCH_OUR_ITEMS = 0,
    MF_ATTRIBUTES_MATCH_THEIR_ITEMS = 1,
    MF_ATTRIBUTES_MATCH_ALL_ITEMS = 2,
    MF_ATTRIBUTES_MATCH_INTERSECTION = 3,
    MF_ATTRIBUTES_MATCH_SMALLER = 4,
};

struct IMFAttributes : IUnknown
{
    STDMETHOD(GetItem)(REFGUID guidKey, PROPVARIANT* pValue) = 0;
    STDMETHOD(GetItemType)(REFGUID guidKey, MF_ATTRIBUTE_TYPE* pType) = 0;
    STDMETHOD(CompareItem)(REFGUID guidKey, REFPROPVARIANT Value, BOOL* pbResult) = 0;
    STDMETHOD(Compare)(IMFAttributes* pTheirs, MF_ATTRIBUTES_MATCH_TYPE MatchType, BOOL* pbResult) = 0;
    STDMETHOD(GetUINT32)(REFGUID guidKey, UINT32* punValue) = 0;
    STDMETHOD(GetUINT64)(REFGUID guidKey, UINT64* punValue) = 0;
    STDMETHOD(GetDouble)(REFGUID guidKey, double* pfValue) = 0;
    STDMETHOD(GetGUID)(REFGUID guidKey, GUID* pguidValue) = 0;
    STDMETHOD(GetStringLength)(REFGUID guidKey, UINT32* pcchLength) = 0;
    STDMETHOD(GetString)(REFGUID guidKey, LPWSTR pwszValue, UINT32 cchBufSize, UINT32* pcchLength) = 0;
    STDMETHOD(GetAllocatedString)(REFGUID guidKey, LPWSTR* ppwszValue, UINT32* pcchLength) = 0;
    STDMETHOD(GetBlobSize)(REFGUID guidKey, UINT32* pcbBlobSize) = 0;
    STDMETHOD(GetBlob)(REFGUID guidKey, UINT8* pBuf, UINT32 cbBufSize, UINT32* pcbBlobSize) = 0;
    STDMETHOD(GetAllocatedBlob)(REFGUID guidKey, UINT8** ppBuf, UINT32* pcbSize) = 0;
    STDMETHOD(GetUnknown)(REFGUID guidKey, REFIID riid, LPVOID* ppv) = 0;
    STDMETHOD(SetItem)(REFGUID guidKey, REFPROPVARIANT Value) = 0;
    STDMETHOD(DeleteItem)(REFGUID guidKey) = 0;
    STDMETHOD(DeleteAllItems)() = 0;
    STDMETHOD(SetUINT32)(REFGUID guidKey, UINT32 unValue) = 0;
    STDMETHOD(SetUINT64)(REFGUID guidKey, UINT64 unValue) = 0;
    STDMETHOD(SetDouble)(REFGUID guidKey, double fValue) = 0;
    STDMETHOD(SetGUID)(REFGUID guidKey, REFGUID guidValue) = 0;
    STDMETHOD(SetString)(REFGUID guidKey, LPCWSTR wszValue) = 0;
    STDMETHOD(SetBlob)(REFGUID guidKey, const UINT8* pBuf, UINT32 cbBufSize) = 0;
    STDMETHOD(SetUnknown)(REFGUID guidKey, IUnknown* pUnknown) = 0;
    STDMETHOD(LockStore)() = 0;
    STDMETHOD(UnlockStore)() = 0;
    STDMETHOD(GetCount)(UINT32* pcItems) = 0;
    STDMETHOD(GetItemByIndex)(UINT32 unIndex, GUID* pguidKey, PROPVARIANT* pValue) = 0;
    STDMETHOD(CopyAllItems)(IMFAttributes* pDest) = 0;
};
DECLARE_UUIDOF(IMFAttributes, 0x2cd2d921, 0xc447, 0x44a7, 0xa1, 0x3c, 0x4a, 0xda, 0xbf, 0xc2, 0x47, 0xe3);

struct IMFMediaBuffer : IUnknown
{
    STDMETHOD(Lock)(BYTE** ppbBuffer, DWORD* pcbMaxLength, DWORD* pcbCurrentLength) = 0;
    STDMETHOD(Unlock)() = 0;
    STDMETHOD(GetCurrentLength)(DWORD* pcbCurrentLength) = 0;
    STDMETHOD(SetCurrentLength)(DWORD cbCurrentLength) = 0;
    STDMETHOD(GetMaxLength)(DWORD* pcbMaxLength) = 0;
};
DECLARE_UUIDOF(IMFMediaBuffer, 0x045fa593, 0x8799, 0x42b8, 0xbc, 0x8d, 0x89, 0x68, 0xc6, 0x45, 0x35, 0x07);

struct IMFSample : IMFAttributes
{
    STDMETHOD(GetSampleFlags)(DWORD* pdwSampleFlags) = 0;
    STDMETHOD(SetSampleFlags)(DWORD dwSampleFlags) = 0;
    STDMETHOD(GetSampleTime)(LONGLONG* phnsSampleTime) = 0;
    STDMETHOD(SetSampleTime)(LONGLONG hnsSampleTime) = 0;
    STDMETHOD(GetSampleDuration)(LONGLONG* phnsSampleDuration) = 0;
    STDMETHOD(SetSampleDuration)(LONGLONG hnsSampleDuration) = 0;
    STDMETHOD(GetBufferCount)(DWORD* pdwBufferCount) = 0;
    STDMETHOD(GetBufferByIndex)(DWORD dwIndex, IMFMediaBuffer** ppBuffer) = 0;
    STDMETHOD(ConvertToContiguousBuffer)(IMFMediaBuffer** ppBuffer) = 0;
    STDMETHOD(AddBuffer)(IMFMediaBuffer* pBuffer) = 0;
    STDMETHOD(RemoveBufferByIndex)(DWORD dwIndex) = 0;
    STDMETHOD(RemoveAllBuffers)() = 0;
    STDMETHOD(GetTotalLength)(DWORD* pcbTotalLength) = 0;
    STDMETHOD(CopyToBuffer)(IMFMediaBuffer* pBuffer) = 0;
};
DECLARE_UUIDOF(IMFSample, 0xc40a00f2, 0xb93a, 0x4d80, 0xae, 0x8c, 0x5a, 0x1c, 0x63, 0x4f, 0x58, 0xe4);

struct IMF2DBuffer : IUnknown
{
    STDMETHOD(Lock2D)(BYTE** ppbScanline0, LONG* plPitch) = 0;
    STDMETHOD(Unlock2D)() = 0;
    STDMETHOD(GetScanline0AndPitch)(BYTE** pbScanline0, LONG* plPitch) = 0;
    STDMETHOD(IsContiguousFormat)(BOOL* pfIsContiguous) = 0;
    STDMETHOD(GetContiguousLength)(DWORD* pcbLength) = 0;
    STDMETHOD(ContiguousCopyTo)(BYTE* pbDestBuffer, DWORD cbDestBuffer) = 0;
    STDMETHOD(ContiguousCopyFrom)(const BYTE* pbSrcBuffer, DWORD cbSrcBuffer) = 0;
};
DECLARE_UUIDOF(IMF2DBuffer, 0x7dc9d5f9, 0x9ed9, 0x44ec, 0x9b, 0xbf, 0x06, 0x00, 0xbb, 0x58, 0x9f, 0xbb);

struct IMFDXGIBuffer : IUnknown
{
    STDMETHOD(GetResource)(REFIID riid, LPVOID* ppvObject) = 0;
    STDMETHOD(GetSubresourceIndex)(UINT* puSubresource) = 0;
    STDMETHOD(GetUnknown)(REFIID guid, REFIID riid, LPVOID* ppvObject) = 0;
    STDMETHOD(SetUnknown)(REFIID guid, IUnknown* pUnkData) = 0;
};
DECLARE_UUIDOF(IMFDXGIBuffer, 0xe7174cfa, 0x1c9e, 0x48b1, 0x88, 0x66, 0x62, 0x62, 0x26, 0xbf, 0xc2, 0x58);

struct IMFMediaType : IMFAttributes
{
    STDMETHOD(GetMajorType)(GUID* pguidMajorType) = 0;
    STDMETHOD(IsCompressedFormat)(BOOL* pfCompressed) = 0;
    STDMETHOD(IsEqual)(IMFMediaType* pIMediaType, DWORD* pdwFlags) = 0;
    STDMETHOD(GetRepresentation)(GUID guidRepresentation, LPVOID* ppvRepresentation) = 0;
    STDMETHOD(FreeRepresentation)(GUID guidRepresentation, LPVOID pvRepresentation) = 0;
};
DECLARE_UUIDOF(IMFMediaType, 0x44ae0fa8, 0xea31, 0x4109, 0x8d, 0x2e, 0x4c, 0xae, 0x49, 0x97, 0xc5, 0x55);

constexpr DWORD MF_MEDIATYPE_EQUAL_MAJOR_TYPES = 0x1;
constexpr DWORD MF_MEDIATYPE_EQUAL_FORMAT_TYPES = 0x2;
constexpr DWORD MF_MEDIATYPE_EQUAL_FORMAT_DATA = 0x4;
constexpr DWORD MF_MEDIATYPE_EQUAL_FORMAT_USER_DATA = 0x8;

struct IMFAsyncResult : IUnknown
{
    STDMETHOD(GetState)(IUnknown** ppunkState) = 0;
    STDMETHOD(GetStatus)() = 0;
    STDMETHOD(SetStatus)(HRESULT hrStatus) = 0;
    STDMETHOD(GetObject)(IUnknown** ppObject) = 0;
    STDMETHOD_(IUnknown*, GetStateNoAddRef)() = 0;
};
DECLARE_UUIDOF(IMFAsyncResult, 0xac6b7889, 0x0740, 0x4d51, 0x86, 0x19, 0x90, 0x59, 0x94, 0xa5, 0x5c, 0xc6);

struct IMFAsyncCallback : IUnknown
{
    STDMETHOD(GetParameters)(DWORD* pdwFlags, DWORD* pdwQueue) = 0;
    STDMETHOD(Invoke)(IMFAsyncResult* pAsyncResult) = 0;
};
DECLARE_UUIDOF(IMFAsyncCallback, 0xa27003cf, 0x2354, 0x4f2a, 0x8d, 0x6a, 0xab, 0x7c, 0xff, 0x15, 0x43, 0x7e);

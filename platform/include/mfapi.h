// Media Foundation functions and the attribute keys and formats the tool uses.
#pragma once

#include <mfidl.h>
#include <mfobjects.h>

constexpr ULONG MF_VERSION = 0x00020070;
constexpr DWORD MFSTARTUP_NOSOCKET = 0x1;
constexpr DWORD MFSTARTUP_LITE = MFSTARTUP_NOSOCKET;
constexpr DWORD MFSTARTUP_FULL = 0;

// Starts the platform and its work queue; each success needs an MFShutdown.
HRESULT MFStartup(ULONG Version, DWORD dwFlags = MFSTARTUP_FULL);
// The last shutdown runs the queued work, then stops the work queue's threads.
HRESULT MFShutdown();

HRESULT MFCreateAttributes(IMFAttributes** ppMFAttributes, UINT32 cInitialSize);
HRESULT MFCreateMediaType(IMFMediaType** ppMFType);
HRESULT MFCreateSample(IMFSample** ppIMFSample);
HRESULT MFCreateMemoryBuffer(DWORD cbMaxLength, IMFMediaBuffer** ppBuffer);
// A media buffer over one subresource of a texture, without copying it; it is
// also an IMF2DBuffer and an IMFDXGIBuffer. Lock reads the pixels back.
HRESULT MFCreateDXGISurfaceBuffer(REFIID riid, IUnknown* punkSurface, UINT uSubresourceIndex, BOOL fBottomUpWhenLinear,
                                  IMFMediaBuffer** ppBuffer);
HRESULT MFCreateAsyncResult(IUnknown* punkObject, IMFAsyncCallback* pCallback, IUnknown* punkState,
                            IMFAsyncResult** ppAsyncResult);
// Queues the result's callback on a work-queue thread; never calls it inline.
HRESULT MFInvokeCallback(IMFAsyncResult* pAsyncResult);

// (a * b + d) / c without intermediate overflow.
LONGLONG MFllMulDiv(LONGLONG a, LONGLONG b, LONGLONG c, LONGLONG d);

// Two 32-bit values in one UINT64 item, the first in the high half.
inline UINT64 Pack2UINT32AsUINT64(UINT32 High, UINT32 Low) { return (static_cast<UINT64>(High) << 32) | Low; }
inline void Unpack2UINT32AsUINT64(UINT64 Value, UINT32* High, UINT32* Low)
{
    *High = static_cast<UINT32>(Value >> 32);
    *Low = static_cast<UINT32>(Value);
}
inline HRESULT MFSetAttributeSize(IMFAttributes* pAttributes, REFGUID guidKey, UINT32 unWidth, UINT32 unHeight)
{
    return pAttributes->SetUINT64(guidKey, Pack2UINT32AsUINT64(unWidth, unHeight));
}
inline HRESULT MFGetAttributeSize(IMFAttributes* pAttributes, REFGUID guidKey, UINT32* punWidth, UINT32* punHeight)
{
    UINT64 Value = 0;
    const HRESULT Result = pAttributes->GetUINT64(guidKey, &Value);
    if (SUCCEEDED(Result))
        Unpack2UINT32AsUINT64(Value, punWidth, punHeight);
    return Result;
}
inline HRESULT MFSetAttributeRatio(IMFAttributes* pAttributes, REFGUID guidKey, UINT32 unNumerator,
                                   UINT32 unDenominator)
{
    return pAttributes->SetUINT64(guidKey, Pack2UINT32AsUINT64(unNumerator, unDenominator));
}
inline HRESULT MFGetAttributeRatio(IMFAttributes* pAttributes, REFGUID guidKey, UINT32* punNumerator,
                                   UINT32* punDenominator)
{
    return MFGetAttributeSize(pAttributes, guidKey, punNumerator, punDenominator);
}

// A video subtype from a format code: {code-0000-0010-8000-00AA00389B71}.
constexpr GUID MFVideoFormatFromCode(uint32_t Code)
{
    return {Code, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}
constexpr uint32_t FourCC(char A, char B, char C, char D)
{
    return static_cast<uint32_t>(static_cast<uint8_t>(A)) | static_cast<uint32_t>(static_cast<uint8_t>(B)) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(C)) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(D)) << 24;
}

constexpr GUID MFMediaType_Video = {0x73646976, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
constexpr GUID MFVideoFormat_ARGB32 = MFVideoFormatFromCode(21);
constexpr GUID MFVideoFormat_RGB32 = MFVideoFormatFromCode(22);
constexpr GUID MFVideoFormat_NV12 = MFVideoFormatFromCode(FourCC('N', 'V', '1', '2'));
constexpr GUID MFVideoFormat_YUY2 = MFVideoFormatFromCode(FourCC('Y', 'U', 'Y', '2'));
constexpr GUID MFVideoFormat_H264 = MFVideoFormatFromCode(FourCC('H', '2', '6', '4'));

enum MFVideoInterlaceMode
{
    MFVideoInterlace_Unknown = 0,
    MFVideoInterlace_Progressive = 2,
};

// Media type keys.
constexpr GUID MF_MT_MAJOR_TYPE = {0x48eba18e, 0xf8c9, 0x4687, {0xbf, 0x11, 0x0a, 0x74, 0xc9, 0xf9, 0x6a, 0x8f}};
constexpr GUID MF_MT_SUBTYPE = {0xf7e34c9a, 0x42e8, 0x4714, {0xb7, 0x4b, 0xcb, 0x29, 0xd7, 0x2c, 0x35, 0xe5}};
constexpr GUID MF_MT_FRAME_SIZE = {0x1652c33d, 0xd6b2, 0x4012, {0xb8, 0x34, 0x72, 0x03, 0x08, 0x49, 0xa3, 0x7d}};
constexpr GUID MF_MT_FRAME_RATE = {0xc459a2e8, 0x3d2c, 0x4e44, {0xb1, 0x32, 0xfe, 0xe5, 0x15, 0x6c, 0x7b, 0xb0}};
constexpr GUID MF_MT_PIXEL_ASPECT_RATIO = {
    0xc6376a1e, 0x8d0a, 0x4027, {0xbe, 0x45, 0x6d, 0x9a, 0x0a, 0xd3, 0x9b, 0xb6}};
constexpr GUID MF_MT_INTERLACE_MODE = {0xe2724bb8, 0xe676, 0x4806, {0xb4, 0xb2, 0xa8, 0xd6, 0xef, 0xb4, 0x4c, 0xcd}};
constexpr GUID MF_MT_AVG_BITRATE = {0x20332624, 0xfb0d, 0x4d9e, {0xbd, 0x0d, 0xcb, 0xf6, 0x78, 0x6c, 0x10, 0x2e}};
constexpr GUID MF_MT_ALL_SAMPLES_INDEPENDENT = {
    0xc9173739, 0x5e56, 0x461c, {0xb7, 0x13, 0x46, 0xfb, 0x99, 0x5c, 0xb9, 0x5f}};
constexpr GUID MF_MT_DEFAULT_STRIDE = {0x644b4e48, 0x1e02, 0x4516, {0xb0, 0xeb, 0xc0, 0x1c, 0xa9, 0xd4, 0x9a, 0xc6}};

// Sample keys.
constexpr GUID MFSampleExtension_CleanPoint = {
    0x9cdf01d8, 0xa0f0, 0x43ba, {0xb0, 0x77, 0xea, 0xa0, 0x6c, 0xbd, 0x72, 0x8a}};
constexpr GUID MFSampleExtension_Discontinuity = {
    0x9cdf01d9, 0xa0f0, 0x43ba, {0xb0, 0x77, 0xea, 0xa0, 0x6c, 0xbd, 0x72, 0x8a}};

// Sample allocator keys.
constexpr GUID MF_SA_MINIMUM_OUTPUT_SAMPLE_COUNT = {
    0x851745d5, 0xc3d6, 0x476d, {0x95, 0x27, 0x49, 0x8e, 0xf2, 0xd1, 0x0d, 0x18}};
constexpr GUID MF_SA_D3D11_BINDFLAGS = {0xeacf97ad, 0x065c, 0x4408, {0xbe, 0xe3, 0xfd, 0xcb, 0xfd, 0x12, 0x8b, 0xe2}};
constexpr GUID MF_SA_D3D11_USAGE = {0xe85fe442, 0x2ca3, 0x486e, {0xa9, 0xc7, 0x10, 0x9d, 0xda, 0x60, 0x98, 0x80}};
constexpr GUID MF_SA_D3D11_SHARED = {0x7b8f32c3, 0x6d96, 0x4b89, {0x92, 0x03, 0xdd, 0x38, 0xb6, 0x14, 0x14, 0xf3}};
constexpr GUID MF_SA_D3D11_SHARED_WITHOUT_MUTEX = {
    0x39dbd44d, 0x2e44, 0x4931, {0xa4, 0xc8, 0x35, 0x2d, 0x3d, 0xc4, 0x21, 0x15}};

// Sink writer keys.
constexpr GUID MF_SINK_WRITER_D3D_MANAGER = {
    0xec822da2, 0xe1e9, 0x4b29, {0xa0, 0xd8, 0x56, 0x3c, 0x71, 0x9f, 0x52, 0x69}};
constexpr GUID MF_READWRITE_ENABLE_HARDWARE_TRANSFORMS = {
    0xa634a91c, 0x822b, 0x41b9, {0xa4, 0x94, 0x4d, 0xe4, 0x64, 0x36, 0x12, 0xb0}};

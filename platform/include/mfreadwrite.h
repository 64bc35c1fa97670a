// The sink writer: encodes samples and writes them into a media file.
#pragma once

#include <mfidl.h>
#include <mfobjects.h>

struct IMFByteStream;

struct MF_SINK_WRITER_STATISTICS
{
    DWORD cb;
    LONGLONG llLastTimestampReceived;
    LONGLONG llLastTimestampEncoded;
    LONGLONG llLastTimestampProcessed;
    LONGLONG llLastStreamTickReceived;
    LONGLONG llLastSinkSampleRequest;
    QWORD qwNumSamplesReceived;
    QWORD qwNumSamplesEncoded;
    QWORD qwNumSamplesProcessed;
    QWORD qwNumStreamTicksReceived;
    DWORD dwByteCountQueued;
    QWORD qwByteCountProcessed;
    DWORD dwNumOutstandingSinkSampleRequests;
    DWORD dwAverageSampleRateReceived;
    DWORD dwAverageSampleRateEncoded;
    DWORD dwAverageSampleRateProcessed;
};

struct IMFSinkWriter : IUnknown
{
    STDMETHOD(AddStream)(IMFMediaType* pTargetMediaType, DWORD* pdwStreamIndex) = 0;
    STDMETHOD(SetInputMediaType)
    (DWORD dwStreamIndex, IMFMediaType* pInputMediaType, IMFAttributes* pEncodingParameters) = 0;
    STDMETHOD(BeginWriting)() = 0;
    STDMETHOD(WriteSample)(DWORD dwStreamIndex, IMFSample* pSample) = 0;
    STDMETHOD(SendStreamTick)(DWORD dwStreamIndex, LONGLONG llTimestamp) = 0;
    STDMETHOD(PlaceMarker)(DWORD dwStreamIndex, LPVOID pvContext) = 0;
    STDMETHOD(NotifyEndOfSegment)(DWORD dwStreamIndex) = 0;
    STDMETHOD(Flush)(DWORD dwStreamIndex) = 0;
    STDMETHOD(Finalize)() = 0;
    STDMETHOD(GetServiceForStream)(DWORD dwStreamIndex, REFGUID guidService, REFIID riid, LPVOID* ppvObject) = 0;
    STDMETHOD(GetStatistics)(DWORD dwStreamIndex, MF_SINK_WRITER_STATISTICS* pStats) = 0;
};
DECLARE_UUIDOF(IMFSinkWriter, 0x3137f1cd, 0xfe5e, 0x4805, 0xa5, 0xd8, 0xfb, 0x47, 0x74, 0x48, 0xcb, 0x3d);

// Creates a writer for the file at the URL; the container follows its
// extension. Only a path is supported: pByteStream must be null.
HRESULT MFCreateSinkWriterFromURL(LPCWSTR pwszOutputURL, IMFByteStream* pByteStream, IMFAttributes* pAttributes,
                                  IMFSinkWriter** ppSinkWriter);

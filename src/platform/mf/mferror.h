// Media Foundation status codes, with their published values.
#pragma once

#include "winerror.h"

constexpr HRESULT MF_E_INVALIDREQUEST = MakeHresult(0xC00D36B2);
constexpr HRESULT MF_E_INVALIDMEDIATYPE = MakeHresult(0xC00D36B4);
constexpr HRESULT MF_E_NOTACCEPTING = MakeHresult(0xC00D36B5);
constexpr HRESULT MF_E_NOT_INITIALIZED = MakeHresult(0xC00D36B6);
constexpr HRESULT MF_E_UNEXPECTED = MakeHresult(0xC00D36BB);
constexpr HRESULT MF_E_INVALID_FILE_FORMAT = MakeHresult(0xC00D36BE);
constexpr HRESULT MF_E_INVALID_TIMESTAMP = MakeHresult(0xC00D36C0);
constexpr HRESULT MF_E_UNSUPPORTED_BYTESTREAM_TYPE = MakeHresult(0xC00D36C4);
constexpr HRESULT MF_E_INVALID_STREAM_DATA = MakeHresult(0xC00D36CB);
constexpr HRESULT MF_E_NOT_AVAILABLE = MakeHresult(0xC00D36D6);
constexpr HRESULT MF_E_SHUTDOWN = MakeHresult(0xC00D3E85);
constexpr HRESULT MF_E_STREAMSINKS_FIXED = MakeHresult(0xC00D4A3B);
constexpr HRESULT MF_E_SINK_NO_STREAMS = MakeHresult(0xC00D4A41);
constexpr HRESULT MF_E_SINK_NO_SAMPLES_PROCESSED = MakeHresult(0xC00D4A44);
constexpr HRESULT MF_E_TOPO_CODEC_NOT_FOUND = MakeHresult(0xC00D5212);

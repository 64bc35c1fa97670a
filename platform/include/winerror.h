// Status codes: HRESULT and the published values the tool and its platform use.
#pragma once

#include <cstdint>

typedef int32_t HRESULT;
typedef uint32_t DWORD;

#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)

constexpr HRESULT MakeHresult(uint32_t Value) { return static_cast<HRESULT>(Value); }

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = MakeHresult(0x80004001);
constexpr HRESULT E_NOINTERFACE = MakeHresult(0x80004002);
constexpr HRESULT E_POINTER = MakeHresult(0x80004003);
constexpr HRESULT E_ABORT = MakeHresult(0x80004004);
constexpr HRESULT E_FAIL = MakeHresult(0x80004005);
constexpr HRESULT E_UNEXPECTED = MakeHresult(0x8000FFFF);
constexpr HRESULT E_ACCESSDENIED = MakeHresult(0x80070005);
constexpr HRESULT E_HANDLE = MakeHresult(0x80070006);
constexpr HRESULT E_OUTOFMEMORY = MakeHresult(0x8007000E);
constexpr HRESULT E_INVALIDARG = MakeHresult(0x80070057);
constexpr HRESULT RPC_E_CHANGED_MODE = MakeHresult(0x80010106);

// DXGI and Direct3D status codes.
constexpr HRESULT DXGI_ERROR_INVALID_CALL = MakeHresult(0x887A0001);
constexpr HRESULT DXGI_ERROR_NOT_FOUND = MakeHresult(0x887A0002);
constexpr HRESULT DXGI_ERROR_MORE_DATA = MakeHresult(0x887A0003);
constexpr HRESULT DXGI_ERROR_UNSUPPORTED = MakeHresult(0x887A0004);
constexpr HRESULT DXGI_ERROR_DEVICE_REMOVED = MakeHresult(0x887A0005);
constexpr HRESULT DXGI_ERROR_DEVICE_HUNG = MakeHresult(0x887A0006);
constexpr HRESULT DXGI_ERROR_DEVICE_RESET = MakeHresult(0x887A0007);
constexpr HRESULT DXGI_ERROR_WAS_STILL_DRAWING = MakeHresult(0x887A000A);
constexpr HRESULT DXGI_ERROR_DRIVER_INTERNAL_ERROR = MakeHresult(0x887A0020);
constexpr HRESULT DXGI_ERROR_SDK_COMPONENT_MISSING = MakeHresult(0x887A002D);

// Win32 error values.
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_INVALID_FUNCTION = 1;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_TOO_MANY_OPEN_FILES = 4;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_OUTOFMEMORY = 14;
constexpr DWORD ERROR_NOT_SAME_DEVICE = 17;
constexpr DWORD ERROR_WRITE_PROTECT = 19;
constexpr DWORD ERROR_WRITE_FAULT = 29;
constexpr DWORD ERROR_NOT_SUPPORTED = 50;
constexpr DWORD ERROR_FILE_EXISTS = 80;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_BROKEN_PIPE = 109;
constexpr DWORD ERROR_OPEN_FAILED = 110;
constexpr DWORD ERROR_DISK_FULL = 112;
constexpr DWORD ERROR_SEM_TIMEOUT = 121;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_INVALID_NAME = 123;
constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
constexpr DWORD ERROR_PROC_NOT_FOUND = 127;
constexpr DWORD ERROR_DIR_NOT_EMPTY = 145;
constexpr DWORD ERROR_BUSY = 170;
constexpr DWORD ERROR_ALREADY_EXISTS = 183;
constexpr DWORD ERROR_ENVVAR_NOT_FOUND = 203;
constexpr DWORD ERROR_FILENAME_EXCED_RANGE = 206;
constexpr DWORD ERROR_FILE_TOO_LARGE = 223;
constexpr DWORD ERROR_NO_MORE_ITEMS = 259;
constexpr DWORD ERROR_DIRECTORY = 267;
constexpr DWORD ERROR_PARTIAL_COPY = 299;
constexpr DWORD ERROR_PROCESS_ABORTED = 1067;
constexpr DWORD ERROR_NO_UNICODE_TRANSLATION = 1113;
constexpr DWORD ERROR_NOT_FOUND = 1168;
constexpr DWORD ERROR_CANCELLED = 1223;
constexpr DWORD ERROR_DISK_QUOTA_EXCEEDED = 1295;
constexpr DWORD ERROR_CANT_RESOLVE_FILENAME = 1921;
constexpr DWORD ERROR_RESOURCE_DATA_NOT_FOUND = 1812;
constexpr DWORD ERROR_RESOURCE_TYPE_NOT_FOUND = 1813;
constexpr DWORD ERROR_RESOURCE_NAME_NOT_FOUND = 1814;
constexpr DWORD ERROR_TIMEOUT = 1460;

// Win32 error value to HRESULT: zero and negative values pass as they are,
// positive ones become FACILITY_WIN32 failures.
constexpr HRESULT HRESULT_FROM_WIN32(DWORD Value)
{
    return static_cast<HRESULT>(Value) <= 0 ? static_cast<HRESULT>(Value)
                                            : static_cast<HRESULT>((Value & 0x0000FFFF) | 0x80070000);
}

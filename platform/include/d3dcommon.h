// Types shared by Direct3D and the HLSL compiler.
#pragma once

#include <windows.h>

enum D3D_DRIVER_TYPE : unsigned
{
    D3D_DRIVER_TYPE_UNKNOWN = 0,
    D3D_DRIVER_TYPE_HARDWARE = 1,
    D3D_DRIVER_TYPE_REFERENCE = 2,
    D3D_DRIVER_TYPE_NULL = 3,
    D3D_DRIVER_TYPE_SOFTWARE = 4,
    D3D_DRIVER_TYPE_WARP = 5,
};

enum D3D_FEATURE_LEVEL : unsigned
{
    D3D_FEATURE_LEVEL_9_1 = 0x9100,
    D3D_FEATURE_LEVEL_9_2 = 0x9200,
    D3D_FEATURE_LEVEL_9_3 = 0x9300,
    D3D_FEATURE_LEVEL_10_0 = 0xa000,
    D3D_FEATURE_LEVEL_10_1 = 0xa100,
    D3D_FEATURE_LEVEL_11_0 = 0xb000,
    D3D_FEATURE_LEVEL_11_1 = 0xb100,
};

enum D3D_PRIMITIVE_TOPOLOGY : unsigned
{
    D3D_PRIMITIVE_TOPOLOGY_UNDEFINED = 0,
    D3D_PRIMITIVE_TOPOLOGY_POINTLIST = 1,
    D3D_PRIMITIVE_TOPOLOGY_LINELIST = 2,
    D3D_PRIMITIVE_TOPOLOGY_LINESTRIP = 3,
    D3D_PRIMITIVE_TOPOLOGY_TRIANGLELIST = 4,
    D3D_PRIMITIVE_TOPOLOGY_TRIANGLESTRIP = 5,
};

// A reference-counted block of memory: compiled code or compiler messages.
struct ID3D10Blob : IUnknown
{
    STDMETHOD_(LPVOID, GetBufferPointer)() = 0;
    STDMETHOD_(SIZE_T, GetBufferSize)() = 0;

protected:
    ~ID3D10Blob() = default;
};
DECLARE_UUIDOF(ID3D10Blob, 0x8ba5fb08, 0x5195, 0x40e2, 0xac, 0x58, 0x0d, 0x98, 0x9c, 0x3a, 0x01, 0x02);
typedef ID3D10Blob ID3DBlob;

struct D3D_SHADER_MACRO
{
    LPCSTR Name;
    LPCSTR Definition;
};

enum D3D_INCLUDE_TYPE : unsigned
{
    D3D_INCLUDE_LOCAL = 0,
    D3D_INCLUDE_SYSTEM = 1,
};

struct ID3DInclude
{
    STDMETHOD(Open)(D3D_INCLUDE_TYPE IncludeType, LPCSTR FileName, LPCVOID ParentData, LPCVOID* Data, UINT* Bytes) = 0;
    STDMETHOD(Close)(LPCVOID Data) = 0;

protected:
    ~ID3DInclude() = default;
};

// The HLSL compiler.
#pragma once

#include <windows.h>

#include <d3dcommon.h>

constexpr UINT D3DCOMPILE_DEBUG = 0x1;
constexpr UINT D3DCOMPILE_SKIP_VALIDATION = 0x2;
constexpr UINT D3DCOMPILE_SKIP_OPTIMIZATION = 0x4;
constexpr UINT D3DCOMPILE_PACK_MATRIX_ROW_MAJOR = 0x8;
constexpr UINT D3DCOMPILE_PACK_MATRIX_COLUMN_MAJOR = 0x10;
constexpr UINT D3DCOMPILE_PARTIAL_PRECISION = 0x20;
constexpr UINT D3DCOMPILE_FORCE_VS_SOFTWARE_NO_OPT = 0x40;
constexpr UINT D3DCOMPILE_FORCE_PS_SOFTWARE_NO_OPT = 0x80;
constexpr UINT D3DCOMPILE_NO_PRESHADER = 0x100;
constexpr UINT D3DCOMPILE_AVOID_FLOW_CONTROL = 0x200;
constexpr UINT D3DCOMPILE_PREFER_FLOW_CONTROL = 0x400;
constexpr UINT D3DCOMPILE_ENABLE_STRICTNESS = 0x800;
constexpr UINT D3DCOMPILE_ENABLE_BACKWARDS_COMPATIBILITY = 0x1000;
constexpr UINT D3DCOMPILE_IEEE_STRICTNESS = 0x2000;
constexpr UINT D3DCOMPILE_OPTIMIZATION_LEVEL0 = 0x4000;
constexpr UINT D3DCOMPILE_OPTIMIZATION_LEVEL1 = 0x0;
constexpr UINT D3DCOMPILE_OPTIMIZATION_LEVEL2 = 0xC000;
constexpr UINT D3DCOMPILE_OPTIMIZATION_LEVEL3 = 0x8000;
constexpr UINT D3DCOMPILE_WARNINGS_ARE_ERRORS = 0x40000;
constexpr UINT D3DCOMPILE_RESOURCES_MAY_ALIAS = 0x80000;
constexpr UINT D3DCOMPILE_ENABLE_UNBOUNDED_DESCRIPTOR_TABLES = 0x100000;
constexpr UINT D3DCOMPILE_ALL_RESOURCES_BOUND = 0x200000;
constexpr UINT D3DCOMPILE_DEBUG_NAME_FOR_SOURCE = 0x400000;
constexpr UINT D3DCOMPILE_DEBUG_NAME_FOR_BINARY = 0x800000;

// Compiles one entry point of HLSL source for a target profile ("vs_4_0",
// "ps_5_0", ...). The code blob is what CreateVertexShader and
// CreatePixelShader take. Whenever the compiler has messages, warnings
// included, *ErrorMsgs receives them as NUL-terminated narrow text; errors
// make the call fail with E_FAIL. Includes are not supported. Flags that
// would change the code and that this compiler cannot honour (row-major
// matrix packing, IEEE strictness, backwards compatibility, unbounded
// descriptor tables, software targets, unknown ones) fail with E_INVALIDARG;
// hints that leave the code's meaning alone are accepted.
HRESULT D3DCompile(LPCVOID SrcData, SIZE_T SrcDataSize, LPCSTR SourceName, const D3D_SHADER_MACRO* Defines,
                   ID3DInclude* Include, LPCSTR Entrypoint, LPCSTR Target, UINT Flags1, UINT Flags2, ID3DBlob** Code,
                   ID3DBlob** ErrorMsgs);

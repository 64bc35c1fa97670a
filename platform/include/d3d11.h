// Direct3D 11: the device, its immediate context and the objects they make.
// The subset that the tool and its tests use, in the SDK's method order.
#pragma once

#include <windows.h>

#include <dxgi.h>

#include <d3dcommon.h>

constexpr UINT D3D11_SDK_VERSION = 7;
constexpr UINT D3D11_APPEND_ALIGNED_ELEMENT = 0xffffffff;
constexpr UINT D3D11_COMMONSHADER_CONSTANT_BUFFER_API_SLOT_COUNT = 14;
constexpr UINT D3D11_IA_VERTEX_INPUT_RESOURCE_SLOT_COUNT = 32;
constexpr UINT D3D11_SIMULTANEOUS_RENDER_TARGET_COUNT = 8;
constexpr UINT D3D11_VIEWPORT_AND_SCISSORRECT_OBJECT_COUNT_PER_PIPELINE = 16;
constexpr UINT D3D11_REQ_TEXTURE2D_U_OR_V_DIMENSION = 16384;
constexpr UINT D3D11_REQ_CONSTANT_BUFFER_ELEMENT_COUNT = 4096;

typedef D3D_PRIMITIVE_TOPOLOGY D3D11_PRIMITIVE_TOPOLOGY;
constexpr D3D11_PRIMITIVE_TOPOLOGY D3D11_PRIMITIVE_TOPOLOGY_UNDEFINED = D3D_PRIMITIVE_TOPOLOGY_UNDEFINED;
constexpr D3D11_PRIMITIVE_TOPOLOGY D3D11_PRIMITIVE_TOPOLOGY_POINTLIST = D3D_PRIMITIVE_TOPOLOGY_POINTLIST;
constexpr D3D11_PRIMITIVE_TOPOLOGY D3D11_PRIMITIVE_TOPOLOGY_LINELIST = D3D_PRIMITIVE_TOPOLOGY_LINELIST;
constexpr D3D11_PRIMITIVE_TOPOLOGY D3D11_PRIMITIVE_TOPOLOGY_LINESTRIP = D3D_PRIMITIVE_TOPOLOGY_LINESTRIP;
constexpr D3D11_PRIMITIVE_TOPOLOGY D3D11_PRIMITIVE_TOPOLOGY_TRIANGLELIST = D3D_PRIMITIVE_TOPOLOGY_TRIANGLELIST;
constexpr D3D11_PRIMITIVE_TOPOLOGY D3D11_PRIMITIVE_TOPOLOGY_TRIANGLESTRIP = D3D_PRIMITIVE_TOPOLOGY_TRIANGLESTRIP;

enum D3D11_CREATE_DEVICE_FLAG : unsigned
{
    D3D11_CREATE_DEVICE_SINGLETHREADED = 0x1,
    D3D11_CREATE_DEVICE_DEBUG = 0x2,
    D3D11_CREATE_DEVICE_BGRA_SUPPORT = 0x20,
    D3D11_CREATE_DEVICE_VIDEO_SUPPORT = 0x800,
};

enum D3D11_USAGE : unsigned
{
    D3D11_USAGE_DEFAULT = 0,
    D3D11_USAGE_IMMUTABLE = 1,
    D3D11_USAGE_DYNAMIC = 2,
    D3D11_USAGE_STAGING = 3,
};

enum D3D11_BIND_FLAG : unsigned
{
    D3D11_BIND_VERTEX_BUFFER = 0x1,
    D3D11_BIND_INDEX_BUFFER = 0x2,
    D3D11_BIND_CONSTANT_BUFFER = 0x4,
    D3D11_BIND_SHADER_RESOURCE = 0x8,
    D3D11_BIND_STREAM_OUTPUT = 0x10,
    D3D11_BIND_RENDER_TARGET = 0x20,
    D3D11_BIND_DEPTH_STENCIL = 0x40,
    D3D11_BIND_UNORDERED_ACCESS = 0x80,
    D3D11_BIND_DECODER = 0x200,
    D3D11_BIND_VIDEO_ENCODER = 0x400,
};

enum D3D11_CPU_ACCESS_FLAG : unsigned
{
    D3D11_CPU_ACCESS_WRITE = 0x10000,
    D3D11_CPU_ACCESS_READ = 0x20000,
};

enum D3D11_RESOURCE_MISC_FLAG : unsigned
{
    D3D11_RESOURCE_MISC_GENERATE_MIPS = 0x1,
    D3D11_RESOURCE_MISC_SHARED = 0x2,
    D3D11_RESOURCE_MISC_TEXTURECUBE = 0x4,
    D3D11_RESOURCE_MISC_SHARED_KEYEDMUTEX = 0x100,
    D3D11_RESOURCE_MISC_SHARED_NTHANDLE = 0x800,
};

enum D3D11_MAP : unsigned
{
    D3D11_MAP_READ = 1,
    D3D11_MAP_WRITE = 2,
    D3D11_MAP_READ_WRITE = 3,
    D3D11_MAP_WRITE_DISCARD = 4,
    D3D11_MAP_WRITE_NO_OVERWRITE = 5,
};

enum D3D11_MAP_FLAG : unsigned
{
    D3D11_MAP_FLAG_DO_NOT_WAIT = 0x100000,
};

enum D3D11_RESOURCE_DIMENSION : unsigned
{
    D3D11_RESOURCE_DIMENSION_UNKNOWN = 0,
    D3D11_RESOURCE_DIMENSION_BUFFER = 1,
    D3D11_RESOURCE_DIMENSION_TEXTURE1D = 2,
    D3D11_RESOURCE_DIMENSION_TEXTURE2D = 3,
    D3D11_RESOURCE_DIMENSION_TEXTURE3D = 4,
};

enum D3D11_RTV_DIMENSION : unsigned
{
    D3D11_RTV_DIMENSION_UNKNOWN = 0,
    D3D11_RTV_DIMENSION_BUFFER = 1,
    D3D11_RTV_DIMENSION_TEXTURE1D = 2,
    D3D11_RTV_DIMENSION_TEXTURE1DARRAY = 3,
    D3D11_RTV_DIMENSION_TEXTURE2D = 4,
};

enum D3D11_INPUT_CLASSIFICATION : unsigned
{
    D3D11_INPUT_PER_VERTEX_DATA = 0,
    D3D11_INPUT_PER_INSTANCE_DATA = 1,
};

enum D3D11_DEVICE_CONTEXT_TYPE : unsigned
{
    D3D11_DEVICE_CONTEXT_IMMEDIATE = 0,
    D3D11_DEVICE_CONTEXT_DEFERRED = 1,
};

struct D3D11_BUFFER_DESC
{
    UINT ByteWidth;
    D3D11_USAGE Usage;
    UINT BindFlags;
    UINT CPUAccessFlags;
    UINT MiscFlags;
    UINT StructureByteStride;
};

struct D3D11_TEXTURE2D_DESC
{
    UINT Width;
    UINT Height;
    UINT MipLevels;
    UINT ArraySize;
    DXGI_FORMAT Format;
    DXGI_SAMPLE_DESC SampleDesc;
    D3D11_USAGE Usage;
    UINT BindFlags;
    UINT CPUAccessFlags;
    UINT MiscFlags;
};

struct D3D11_SUBRESOURCE_DATA
{
    const void* pSysMem;
    UINT SysMemPitch;
    UINT SysMemSlicePitch;
};

struct D3D11_MAPPED_SUBRESOURCE
{
    void* pData;
    UINT RowPitch;
    UINT DepthPitch;
};

struct D3D11_BOX
{
    UINT left;
    UINT top;
    UINT front;
    UINT right;
    UINT bottom;
    UINT back;
};

struct D3D11_VIEWPORT
{
    FLOAT TopLeftX;
    FLOAT TopLeftY;
    FLOAT Width;
    FLOAT Height;
    FLOAT MinDepth;
    FLOAT MaxDepth;
};

struct D3D11_INPUT_ELEMENT_DESC
{
    LPCSTR SemanticName;
    UINT SemanticIndex;
    DXGI_FORMAT Format;
    UINT InputSlot;
    UINT AlignedByteOffset;
    D3D11_INPUT_CLASSIFICATION InputSlotClass;
    UINT InstanceDataStepRate;
};

struct D3D11_TEX2D_RTV
{
    UINT MipSlice;
};

struct D3D11_RENDER_TARGET_VIEW_DESC
{
    DXGI_FORMAT Format;
    D3D11_RTV_DIMENSION ViewDimension;
    union
    {
        D3D11_TEX2D_RTV Texture2D;
    };
};

struct ID3D11Device;
struct ID3D11DepthStencilView;
struct ID3D11ClassLinkage;
struct ID3D11ClassInstance;

struct ID3D11DeviceChild : IUnknown
{
    STDMETHOD_(void, GetDevice)(ID3D11Device** Device) = 0;

protected:
    ~ID3D11DeviceChild() = default;
};
DECLARE_UUIDOF(ID3D11DeviceChild, 0x1841e5c8, 0x16b0, 0x489b, 0xbc, 0xc8, 0x44, 0xcf, 0xb0, 0xd5, 0xde, 0xae);

struct ID3D11Resource : ID3D11DeviceChild
{
    STDMETHOD_(void, GetType)(D3D11_RESOURCE_DIMENSION* ResourceDimension) = 0;

protected:
    ~ID3D11Resource() = default;
};
DECLARE_UUIDOF(ID3D11Resource, 0xdc8e63f3, 0xd12b, 0x4952, 0xb4, 0x7b, 0x5e, 0x45, 0x02, 0x6a, 0x86, 0x2d);

struct ID3D11Buffer : ID3D11Resource
{
    STDMETHOD_(void, GetDesc)(D3D11_BUFFER_DESC* Desc) = 0;

protected:
    ~ID3D11Buffer() = default;
};
DECLARE_UUIDOF(ID3D11Buffer, 0x48570b85, 0xd1ee, 0x4fcd, 0xa2, 0x50, 0xeb, 0x35, 0x07, 0x22, 0xb0, 0x37);

struct ID3D11Texture2D : ID3D11Resource
{
    STDMETHOD_(void, GetDesc)(D3D11_TEXTURE2D_DESC* Desc) = 0;

protected:
    ~ID3D11Texture2D() = default;
};
DECLARE_UUIDOF(ID3D11Texture2D, 0x6f15aaf2, 0xd208, 0x4e89, 0x9a, 0xb4, 0x48, 0x95, 0x35, 0xd3, 0x4f, 0x9c);

struct ID3D11View : ID3D11DeviceChild
{
    STDMETHOD_(void, GetResource)(ID3D11Resource** Resource) = 0;

protected:
    ~ID3D11View() = default;
};
DECLARE_UUIDOF(ID3D11View, 0x839d1216, 0xbb2e, 0x412b, 0xb7, 0xf4, 0xa9, 0xdb, 0xeb, 0xe0, 0x8e, 0xd1);

struct ID3D11RenderTargetView : ID3D11View
{
    STDMETHOD_(void, GetDesc)(D3D11_RENDER_TARGET_VIEW_DESC* Desc) = 0;

protected:
    ~ID3D11RenderTargetView() = default;
};
DECLARE_UUIDOF(ID3D11RenderTargetView, 0xdfdba067, 0x0b8d, 0x4865, 0x87, 0x5b, 0xd7, 0xb4, 0x51, 0x6c, 0xc1, 0x64);

struct ID3D11VertexShader : ID3D11DeviceChild
{
protected:
    ~ID3D11VertexShader() = default;
};
DECLARE_UUIDOF(ID3D11VertexShader, 0x3b301d64, 0xd678, 0x4289, 0x88, 0x97, 0x22, 0xf8, 0x92, 0x8b, 0x72, 0xf3);

struct ID3D11PixelShader : ID3D11DeviceChild
{
protected:
    ~ID3D11PixelShader() = default;
};
DECLARE_UUIDOF(ID3D11PixelShader, 0xea82e40d, 0x51dc, 0x4f33, 0x93, 0xd4, 0xdb, 0x7c, 0x91, 0x25, 0xae, 0x8c);

struct ID3D11InputLayout : ID3D11DeviceChild
{
protected:
    ~ID3D11InputLayout() = default;
};
DECLARE_UUIDOF(ID3D11InputLayout, 0xe4819ddc, 0x4cf0, 0x4025, 0xbd, 0x26, 0x5d, 0xe8, 0x2a, 0x3e, 0x07, 0xb7);

// The immediate context. Calls with invalid arguments are ignored, as the
// runtime does without its debug layer.
struct ID3D11DeviceContext : ID3D11DeviceChild
{
    STDMETHOD_(void, VSSetConstantBuffers)(UINT StartSlot, UINT NumBuffers, ID3D11Buffer* const* ConstantBuffers) = 0;
    STDMETHOD_(void, PSSetShader)(ID3D11PixelShader* PixelShader, ID3D11ClassInstance* const* ClassInstances,
                                  UINT NumClassInstances) = 0;
    STDMETHOD_(void, VSSetShader)(ID3D11VertexShader* VertexShader, ID3D11ClassInstance* const* ClassInstances,
                                  UINT NumClassInstances) = 0;
    STDMETHOD_(void, DrawIndexed)(UINT IndexCount, UINT StartIndexLocation, INT BaseVertexLocation) = 0;
    STDMETHOD_(void, Draw)(UINT VertexCount, UINT StartVertexLocation) = 0;
    STDMETHOD(Map)
    (ID3D11Resource* Resource, UINT Subresource, D3D11_MAP MapType, UINT MapFlags,
     D3D11_MAPPED_SUBRESOURCE* MappedResource) = 0;
    STDMETHOD_(void, Unmap)(ID3D11Resource* Resource, UINT Subresource) = 0;
    STDMETHOD_(void, PSSetConstantBuffers)(UINT StartSlot, UINT NumBuffers, ID3D11Buffer* const* ConstantBuffers) = 0;
    STDMETHOD_(void, IASetInputLayout)(ID3D11InputLayout* InputLayout) = 0;
    STDMETHOD_(void, IASetVertexBuffers)(UINT StartSlot, UINT NumBuffers, ID3D11Buffer* const* VertexBuffers,
                                         const UINT* Strides, const UINT* Offsets) = 0;
    STDMETHOD_(void, IASetIndexBuffer)(ID3D11Buffer* IndexBuffer, DXGI_FORMAT Format, UINT Offset) = 0;
    STDMETHOD_(void, IASetPrimitiveTopology)(D3D11_PRIMITIVE_TOPOLOGY Topology) = 0;
    STDMETHOD_(void, OMSetRenderTargets)(UINT NumViews, ID3D11RenderTargetView* const* RenderTargetViews,
                                         ID3D11DepthStencilView* DepthStencilView) = 0;
    STDMETHOD_(void, RSSetViewports)(UINT NumViewports, const D3D11_VIEWPORT* Viewports) = 0;
    STDMETHOD_(void, CopySubresourceRegion)(ID3D11Resource* DstResource, UINT DstSubresource, UINT DstX, UINT DstY,
                                            UINT DstZ, ID3D11Resource* SrcResource, UINT SrcSubresource,
                                            const D3D11_BOX* SrcBox) = 0;
    STDMETHOD_(void, CopyResource)(ID3D11Resource* DstResource, ID3D11Resource* SrcResource) = 0;
    STDMETHOD_(void, UpdateSubresource)(ID3D11Resource* DstResource, UINT DstSubresource, const D3D11_BOX* DstBox,
                                        const void* SrcData, UINT SrcRowPitch, UINT SrcDepthPitch) = 0;
    STDMETHOD_(void, ClearRenderTargetView)(ID3D11RenderTargetView* RenderTargetView, const FLOAT ColorRGBA[4]) = 0;
    STDMETHOD_(void, ClearState)() = 0;
    STDMETHOD_(void, Flush)() = 0;
    STDMETHOD_(D3D11_DEVICE_CONTEXT_TYPE, GetType)() = 0;

protected:
    ~ID3D11DeviceContext() = default;
};
DECLARE_UUIDOF(ID3D11DeviceContext, 0xc0bfa96c, 0xe089, 0x44fb, 0x8e, 0xaf, 0x26, 0xf8, 0x79, 0x61, 0x90, 0xda);

struct ID3D11Device : IUnknown
{
    STDMETHOD(CreateBuffer)
    (const D3D11_BUFFER_DESC* Desc, const D3D11_SUBRESOURCE_DATA* InitialData, ID3D11Buffer** Buffer) = 0;
    STDMETHOD(CreateTexture2D)
    (const D3D11_TEXTURE2D_DESC* Desc, const D3D11_SUBRESOURCE_DATA* InitialData, ID3D11Texture2D** Texture2D) = 0;
    STDMETHOD(CreateRenderTargetView)
    (ID3D11Resource* Resource, const D3D11_RENDER_TARGET_VIEW_DESC* Desc, ID3D11RenderTargetView** RTView) = 0;
    // Fails with E_INVALIDARG when an input of the vertex shader's signature
    // has no element of the same semantic; elements that the shader does not
    // read are allowed.
    STDMETHOD(CreateInputLayout)
    (const D3D11_INPUT_ELEMENT_DESC* InputElementDescs, UINT NumElements, const void* ShaderBytecodeWithInputSignature,
     SIZE_T BytecodeLength, ID3D11InputLayout** InputLayout) = 0;
    STDMETHOD(CreateVertexShader)
    (const void* ShaderBytecode, SIZE_T BytecodeLength, ID3D11ClassLinkage* ClassLinkage,
     ID3D11VertexShader** VertexShader) = 0;
    STDMETHOD(CreatePixelShader)
    (const void* ShaderBytecode, SIZE_T BytecodeLength, ID3D11ClassLinkage* ClassLinkage,
     ID3D11PixelShader** PixelShader) = 0;
    STDMETHOD_(D3D_FEATURE_LEVEL, GetFeatureLevel)() = 0;
    STDMETHOD_(UINT, GetCreationFlags)() = 0;
    STDMETHOD(GetDeviceRemovedReason)() = 0;
    STDMETHOD_(void, GetImmediateContext)(ID3D11DeviceContext** ImmediateContext) = 0;

protected:
    ~ID3D11Device() = default;
};
DECLARE_UUIDOF(ID3D11Device, 0xdb6f6ddb, 0xac77, 0x4e88, 0x82, 0x53, 0x81, 0x9d, 0xf9, 0xbb, 0xf1, 0x40);

// Creates a device on Adapter (driver type D3D_DRIVER_TYPE_UNKNOWN), or on the
// first adapter for D3D_DRIVER_TYPE_HARDWARE (the first hardware one) and
// D3D_DRIVER_TYPE_WARP or _SOFTWARE (the first software one). With no feature
// level list the levels 11.0 down to 9.1 are tried.
HRESULT D3D11CreateDevice(IDXGIAdapter* Adapter, D3D_DRIVER_TYPE DriverType, HMODULE Software, UINT Flags,
                          const D3D_FEATURE_LEVEL* FeatureLevels, UINT NumFeatureLevels, UINT SDKVersion,
                          ID3D11Device** Device, D3D_FEATURE_LEVEL* FeatureLevel,
                          ID3D11DeviceContext** ImmediateContext);

// ID3D11DeviceContext: the immediate context. It keeps the bound Direct3D
// state and translates each call into an operation of the device's Vulkan
// command context, under the device's lock, so any thread may use it.
#pragma once

#include <array>

#include <wrl/client.h>

#include "Buffer.h"
#include "RenderTargetView.h"
#include "Shaders.h"
#include "Texture2D.h"

namespace Platform::D3D11 {

class ImmediateContext
    : public Microsoft::WRL::RuntimeClass<Microsoft::WRL::RuntimeClassFlags<Microsoft::WRL::ClassicCom>,
                                          Microsoft::WRL::ChainInterfaces<ID3D11DeviceContext, ID3D11DeviceChild>>
{
public:
    // Owned by Device, whose reference count it shares.
    ImmediateContext(IUnknown* Device, std::shared_ptr<DeviceState> State);
    ~ImmediateContext() override;

    STDMETHODIMP_(ULONG) AddRef() override { return m_Device->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return m_Device->Release(); }

    STDMETHODIMP_(void) GetDevice(ID3D11Device** Device) override { m_State->GetDevice(Device); }
    STDMETHODIMP_(void) VSSetConstantBuffers(UINT StartSlot, UINT NumBuffers,
                                             ID3D11Buffer* const* ConstantBuffers) override;
    STDMETHODIMP_(void) PSSetShader(ID3D11PixelShader* PixelShader, ID3D11ClassInstance* const* ClassInstances,
                                    UINT NumClassInstances) override;
    STDMETHODIMP_(void) VSSetShader(ID3D11VertexShader* VertexShader, ID3D11ClassInstance* const* ClassInstances,
                                    UINT NumClassInstances) override;
    STDMETHODIMP_(void) DrawIndexed(UINT IndexCount, UINT StartIndexLocation, INT BaseVertexLocation) override;
    STDMETHODIMP_(void) Draw(UINT VertexCount, UINT StartVertexLocation) override;
    STDMETHODIMP Map(ID3D11Resource* Resource, UINT Subresource, D3D11_MAP MapType, UINT MapFlags,
                     D3D11_MAPPED_SUBRESOURCE* MappedResource) override;
    STDMETHODIMP_(void) Unmap(ID3D11Resource* Resource, UINT Subresource) override;
    STDMETHODIMP_(void) PSSetConstantBuffers(UINT StartSlot, UINT NumBuffers,
                                             ID3D11Buffer* const* ConstantBuffers) override;
    STDMETHODIMP_(void) IASetInputLayout(ID3D11InputLayout* InputLayout) override;
    STDMETHODIMP_(void) IASetVertexBuffers(UINT StartSlot, UINT NumBuffers, ID3D11Buffer* const* VertexBuffers,
                                           const UINT* Strides, const UINT* Offsets) override;
    STDMETHODIMP_(void) IASetIndexBuffer(ID3D11Buffer* IndexBuffer, DXGI_FORMAT Format, UINT Offset) override;
    STDMETHODIMP_(void) IASetPrimitiveTopology(D3D11_PRIMITIVE_TOPOLOGY Topology) override;
    STDMETHODIMP_(void) OMSetRenderTargets(UINT NumViews, ID3D11RenderTargetView* const* RenderTargetViews,
                                           ID3D11DepthStencilView* DepthStencilView) override;
    STDMETHODIMP_(void) RSSetViewports(UINT NumViewports, const D3D11_VIEWPORT* Viewports) override;
    STDMETHODIMP_(void) CopySubresourceRegion(ID3D11Resource* DstResource, UINT DstSubresource, UINT DstX, UINT DstY,
                                              UINT DstZ, ID3D11Resource* SrcResource, UINT SrcSubresource,
                                              const D3D11_BOX* SrcBox) override;
    STDMETHODIMP_(void) CopyResource(ID3D11Resource* DstResource, ID3D11Resource* SrcResource) override;
    STDMETHODIMP_(void) UpdateSubresource(ID3D11Resource* DstResource, UINT DstSubresource, const D3D11_BOX* DstBox,
                                          const void* SrcData, UINT SrcRowPitch, UINT SrcDepthPitch) override;
    STDMETHODIMP_(void) ClearRenderTargetView(ID3D11RenderTargetView* RenderTargetView,
                                              const FLOAT ColorRGBA[4]) override;
    STDMETHODIMP_(void) ClearState() override;
    STDMETHODIMP_(void) Flush() override;
    STDMETHODIMP_(D3D11_DEVICE_CONTEXT_TYPE) GetType() override { return D3D11_DEVICE_CONTEXT_IMMEDIATE; }

private:
    // The draw that the bound state describes; false when it cannot draw.
    bool DescribeDraw(Vulkan::DrawCall& Call);
    bool DescribeVertexInput(Vulkan::DrawCall& Call);
    void AddConstantBuffers(Vulkan::DrawCall& Call, const ShaderProgram& Program,
                            const std::array<Microsoft::WRL::ComPtr<Buffer>, ConstantBufferSlots>& Buffers,
                            uint32_t BindingBase);
    // The object behind an interface, when it is of that class and made by
    // this device; else null.
    template <typename Implementation, typename Interface>
    Implementation* Own(Interface* Object) const;
    void CopyTextureRegion(Texture2D& Destination, UINT DstX, UINT DstY, Texture2D& Source, const D3D11_BOX& Box);
    void CopyHostRegion(Texture2D& Destination, UINT DstX, UINT DstY, Texture2D& Source, const D3D11_BOX& Box);
    void CopyBufferRegion(Buffer& Destination, UINT DstX, Buffer& Source, UINT Left, UINT Right);
    void UpdateTexture(Texture2D& Texture, const D3D11_BOX* DstBox, const void* SrcData, UINT SrcRowPitch);
    std::shared_ptr<Vulkan::Buffer> HostMemory(Texture2D* Texture, Buffer* Object) const;

    IUnknown* m_Device;
    std::shared_ptr<DeviceState> m_State;

    std::array<Microsoft::WRL::ComPtr<Buffer>, ConstantBufferSlots> m_VertexConstantBuffers;
    std::array<Microsoft::WRL::ComPtr<Buffer>, ConstantBufferSlots> m_PixelConstantBuffers;
    Microsoft::WRL::ComPtr<VertexShader> m_VertexShader;
    Microsoft::WRL::ComPtr<PixelShader> m_PixelShader;
    Microsoft::WRL::ComPtr<InputLayout> m_InputLayout;
    std::array<Microsoft::WRL::ComPtr<Buffer>, D3D11_IA_VERTEX_INPUT_RESOURCE_SLOT_COUNT> m_VertexBuffers;
    std::array<UINT, D3D11_IA_VERTEX_INPUT_RESOURCE_SLOT_COUNT> m_Strides = {};
    std::array<UINT, D3D11_IA_VERTEX_INPUT_RESOURCE_SLOT_COUNT> m_Offsets = {};
    Microsoft::WRL::ComPtr<Buffer> m_IndexBuffer;
    DXGI_FORMAT m_IndexFormat = DXGI_FORMAT_UNKNOWN;
    UINT m_IndexOffset = 0;
    D3D11_PRIMITIVE_TOPOLOGY m_Topology = D3D11_PRIMITIVE_TOPOLOGY_UNDEFINED;
    std::array<Microsoft::WRL::ComPtr<RenderTargetView>, D3D11_SIMULTANEOUS_RENDER_TARGET_COUNT> m_RenderTargets;
    UINT m_ViewportCount = 0;
    D3D11_VIEWPORT m_Viewport = {};
    Vulkan::DrawCall m_Draw; // kept, so that its vectors keep their room
};

} // namespace Platform::D3D11

// ID3D11Device, with the ID3D10Multithread view that serialises its
// immediate context.
#pragma once

#include <memory>

#include <d3d10.h>
#include "ImmediateContext.h"

namespace Platform::D3D11 {

class Device : public Microsoft::WRL::RuntimeClass<Microsoft::WRL::RuntimeClassFlags<Microsoft::WRL::ClassicCom>,
                                                   ID3D11Device, ID3D10Multithread>
{
public:
    explicit Device(std::shared_ptr<DeviceState> State);
    ~Device() override;

    STDMETHODIMP CreateBuffer(const D3D11_BUFFER_DESC* Desc, const D3D11_SUBRESOURCE_DATA* InitialData,
                              ID3D11Buffer** Buffer) override;
    STDMETHODIMP CreateTexture2D(const D3D11_TEXTURE2D_DESC* Desc, const D3D11_SUBRESOURCE_DATA* InitialData,
                                 ID3D11Texture2D** Texture2D) override;
    STDMETHODIMP CreateRenderTargetView(ID3D11Resource* Resource, const D3D11_RENDER_TARGET_VIEW_DESC* Desc,
                                        ID3D11RenderTargetView** RTView) override;
    STDMETHODIMP CreateInputLayout(const D3D11_INPUT_ELEMENT_DESC* InputElementDescs, UINT NumElements,
                                   const void* ShaderBytecode, SIZE_T BytecodeLength,
                                   ID3D11InputLayout** InputLayout) override;
    STDMETHODIMP CreateVertexShader(const void* ShaderBytecode, SIZE_T BytecodeLength, ID3D11ClassLinkage* ClassLinkage,
                                    ID3D11VertexShader** VertexShader) override;
    STDMETHODIMP CreatePixelShader(const void* ShaderBytecode, SIZE_T BytecodeLength, ID3D11ClassLinkage* ClassLinkage,
                                   ID3D11PixelShader** PixelShader) override;
    STDMETHODIMP_(D3D_FEATURE_LEVEL) GetFeatureLevel() override { return m_State->FeatureLevel(); }
    STDMETHODIMP_(UINT) GetCreationFlags() override { return m_State->CreationFlags(); }
    STDMETHODIMP GetDeviceRemovedReason() override { return Dxgi::HresultFromVk(m_State->Vulkan()->RemovedReason()); }
    STDMETHODIMP_(void) GetImmediateContext(ID3D11DeviceContext** ImmediateContext) override;

    STDMETHODIMP_(void) Enter() override { m_State->m_Lock.lock(); }
    STDMETHODIMP_(void) Leave() override { m_State->m_Lock.unlock(); }
    STDMETHODIMP_(BOOL) SetMultithreadProtected(BOOL MTProtect) override
    {
        return m_State->m_MultithreadProtected.exchange(MTProtect != FALSE) ? TRUE : FALSE;
    }
    STDMETHODIMP_(BOOL) GetMultithreadProtected() override { return m_State->m_MultithreadProtected ? TRUE : FALSE; }

    // What the device shares with its children.
    const std::shared_ptr<DeviceState>& State() const { return m_State; }

private:
    std::shared_ptr<DeviceState> m_State;
    std::unique_ptr<ImmediateContext> m_Context;
};

} // namespace Platform::D3D11

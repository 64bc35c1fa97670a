// Drawing one frame.

#include "Context.h"

namespace {

// Midnight blue, (25, 25, 112) of 255, opaque: shows only where nothing is drawn.
const FLOAT ClearColor[4] = {0.098039225f, 0.098039225f, 0.43921572f, 1.0f};

} // namespace

void Application::Context::Render(float Time)
{
    m_DeviceContext->ClearRenderTargetView(m_RenderTargetView.Get(), ClearColor);
    m_ConstantBufferData.World = m_World.Transpose();
    m_ConstantBufferData.View = m_View.Transpose();
    m_ConstantBufferData.Projection = m_Projection.Transpose();
    m_ConstantBufferData.Time = Time;
    m_DeviceContext->UpdateSubresource(m_ConstantBuffer.Get(), 0, nullptr, &m_ConstantBufferData, 0, 0);
    m_DeviceContext->VSSetConstantBuffers(0, 1, m_ConstantBuffer.GetAddressOf());
    m_DeviceContext->VSSetShader(m_VertexShader.Get(), nullptr, 0);
    m_DeviceContext->PSSetConstantBuffers(0, 1, m_ConstantBuffer.GetAddressOf());
    m_DeviceContext->PSSetShader(m_PixelShader.Get(), nullptr, 0);
    m_DeviceContext->DrawIndexed(m_IndexCount, 0, 0);
}

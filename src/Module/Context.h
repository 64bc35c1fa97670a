// The rendering context of the encoding run.
#pragma once

#include <windows.h>

#include <d3d11.h>
#include <d3dcompiler.h>
#include <dxgi1_3.h>
#include <wrl/client.h>

#include "Application.h"

// Everything Direct3D needs to draw the picture off screen: adapter,
// device, render target, shaders, the full-frame quad and the constants.
class Application::Context
{
public:
    // 4 x 4, row-major, used with row vectors: p * World * View * Projection.
    struct alignas(16) Matrix
    {
        float m_Values[4][4];

        static Matrix Identity();
        Matrix Transpose() const;
    };

    struct Vertex
    {
        float Position[3];
        float Color[4];
    };

    // The memory image of the shader's ConstantBuffer.
    struct ConstantBufferData
    {
        Matrix World; // transposed, as the shader reads it
        Matrix View;
        Matrix Projection;
        float Time; // seconds
        float Padding[3];
    };

    // Builds the whole context; fails with ComException.
    explicit Context(const Configuration& Configuration);
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    // Compiles an entry point of the embedded shader source for a target
    // profile; traces the compiler's messages, warnings included.
    static Microsoft::WRL::ComPtr<ID3DBlob> CompileShader(const char* EntryPoint, const char* Target);

    // Draws one frame at Time (seconds) into m_Texture.
    void Render(float Time);

    const Configuration& m_Configuration;
    Microsoft::WRL::ComPtr<IDXGIFactory1> m_DxgiFactory;
    Microsoft::WRL::ComPtr<IDXGIAdapter1> m_DxgiAdapter1;
    DXGI_ADAPTER_DESC1 m_DxgiAdapterDesc1 = {};
    Microsoft::WRL::ComPtr<ID3D11Device> m_Device;
    D3D_FEATURE_LEVEL m_FeatureLevel = {};
    Microsoft::WRL::ComPtr<ID3D11DeviceContext> m_DeviceContext;
    Microsoft::WRL::ComPtr<ID3D11Texture2D> m_Texture;
    Microsoft::WRL::ComPtr<ID3D11RenderTargetView> m_RenderTargetView;
    Microsoft::WRL::ComPtr<ID3D11VertexShader> m_VertexShader;
    Microsoft::WRL::ComPtr<ID3D11InputLayout> m_VertexInputLayout;
    Microsoft::WRL::ComPtr<ID3D11PixelShader> m_PixelShader;
    Microsoft::WRL::ComPtr<ID3D11Buffer> m_VertexBuffer;
    UINT m_IndexCount = 0;
    Microsoft::WRL::ComPtr<ID3D11Buffer> m_IndexBuffer;
    Microsoft::WRL::ComPtr<ID3D11Buffer> m_ConstantBuffer;
    Matrix m_World = {};
    Matrix m_View = {};
    Matrix m_Projection = {};
    ConstantBufferData m_ConstantBufferData = {};
};

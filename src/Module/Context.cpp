// The rendering context and the compilation of the embedded shaders.

#include <iterator>
#include <cstddef>

#include "Context.h"

#include "diagnostics/Check.h"

static_assert(sizeof(Application::Context::Vertex) == 28, "the vertex record is 28 bytes");
static_assert(sizeof(Application::Context::ConstantBufferData) == 208, "the constant buffer is 208 bytes");
static_assert(offsetof(Application::Context::ConstantBufferData, Time) == 192, "Time lies at byte 192");

namespace {

constexpr WORD ShaderResourceIdentifier = 105;

} // namespace

Application::Context::Matrix Application::Context::Matrix::Identity()
{
    Matrix Result = {};
    for (int Index = 0; Index < 4; ++Index)
        Result.m_Values[Index][Index] = 1.0f;
    return Result;
}

Application::Context::Matrix Application::Context::Matrix::Transpose() const
{
    Matrix Result;
    for (int Row = 0; Row < 4; ++Row)
        for (int Column = 0; Column < 4; ++Column)
            Result.m_Values[Row][Column] = m_Values[Column][Row];
    return Result;
}

Microsoft::WRL::ComPtr<ID3DBlob> Application::Context::CompileShader(const char* EntryPoint, const char* Target)
{
    const HRSRC Resource = FindResourceW(nullptr, MAKEINTRESOURCEW(ShaderResourceIdentifier), RT_RCDATA);
    CheckWin32(Resource);
    const DWORD ResourceSize = SizeofResource(nullptr, Resource);
    const HGLOBAL ResourceDataHandle = LoadResource(nullptr, Resource);
    CheckWin32(ResourceDataHandle);
    const void* ResourceData = LockResource(ResourceDataHandle);

    Microsoft::WRL::ComPtr<ID3DBlob> Blob;
    Microsoft::WRL::ComPtr<ID3DBlob> MessageBlob;
    const HRESULT CompileResult =
        D3DCompile(ResourceData, ResourceSize, nullptr, nullptr, nullptr, EntryPoint, Target,
                   D3DCOMPILE_ENABLE_STRICTNESS, 0, Blob.GetAddressOf(), MessageBlob.GetAddressOf());
    if (MessageBlob)
        TRACE(L"D3D Compile Error, %hs\n", static_cast<const char*>(MessageBlob->GetBufferPointer()));
    CheckResult(CompileResult);
    return Blob;
}

Application::Context::Context(const Configuration& Configuration) : m_Configuration(Configuration)
{
    const UINT CreateFactoryFlags = 0;
    CheckResult(CreateDXGIFactory2(CreateFactoryFlags, IID_PPV_ARGS(&m_DxgiFactory)));
    CheckResult(m_DxgiFactory->EnumAdapters1(m_Configuration.m_DxgiAdapterIndex, m_DxgiAdapter1.GetAddressOf()));
    CheckResult(m_DxgiAdapter1->GetDesc1(&m_DxgiAdapterDesc1));

    const UINT CreateDeviceFlags = 0;
    CheckResult(D3D11CreateDevice(m_DxgiAdapter1.Get(), D3D_DRIVER_TYPE_UNKNOWN, nullptr, CreateDeviceFlags, nullptr, 0,
                                  D3D11_SDK_VERSION, m_Device.GetAddressOf(), &m_FeatureLevel,
                                  m_DeviceContext.GetAddressOf()));

    const float Width = static_cast<float>(m_Configuration.m_FrameSizeW);
    const float Height = static_cast<float>(m_Configuration.m_FrameSizeH);

    D3D11_TEXTURE2D_DESC TextureDesc = {};
    TextureDesc.Width = m_Configuration.m_FrameSizeW;
    TextureDesc.Height = m_Configuration.m_FrameSizeH;
    TextureDesc.MipLevels = 1;
    TextureDesc.ArraySize = 1;
    TextureDesc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
    TextureDesc.SampleDesc.Count = 1;
    TextureDesc.SampleDesc.Quality = 0;
    TextureDesc.Usage = D3D11_USAGE_DEFAULT;
    TextureDesc.BindFlags = D3D11_BIND_RENDER_TARGET | D3D11_BIND_SHADER_RESOURCE;
    TextureDesc.CPUAccessFlags = 0;
    TextureDesc.MiscFlags = 0;
    CheckResult(m_Device->CreateTexture2D(&TextureDesc, nullptr, m_Texture.GetAddressOf()));
    CheckResult(m_Device->CreateRenderTargetView(m_Texture.Get(), nullptr, m_RenderTargetView.GetAddressOf()));
    m_DeviceContext->OMSetRenderTargets(1, m_RenderTargetView.GetAddressOf(), nullptr);

    D3D11_VIEWPORT Viewport = {};
    Viewport.TopLeftX = 0;
    Viewport.TopLeftY = 0;
    Viewport.Width = Width;
    Viewport.Height = Height;
    Viewport.MinDepth = 0;
    Viewport.MaxDepth = 1;
    m_DeviceContext->RSSetViewports(1, &Viewport);

    D3D11_BUFFER_DESC ConstantBufferDesc = {};
    ConstantBufferDesc.ByteWidth = sizeof(ConstantBufferData);
    ConstantBufferDesc.Usage = D3D11_USAGE_DEFAULT;
    ConstantBufferDesc.BindFlags = D3D11_BIND_CONSTANT_BUFFER;
    ConstantBufferDesc.CPUAccessFlags = 0;
    ConstantBufferDesc.MiscFlags = 0;
    ConstantBufferDesc.StructureByteStride = 0;
    CheckResult(m_Device->CreateBuffer(&ConstantBufferDesc, nullptr, m_ConstantBuffer.GetAddressOf()));

    Microsoft::WRL::ComPtr<ID3DBlob> VertexShaderBlob = CompileShader("VS", "vs_4_0");
    CheckResult(m_Device->CreateVertexShader(VertexShaderBlob->GetBufferPointer(), VertexShaderBlob->GetBufferSize(),
                                             nullptr, m_VertexShader.GetAddressOf()));

    // The vertex record carries no texture coordinate: the shader's TEXCOORD
    // input, which it only passes on, reads the position, so that no read
    // goes past the end of the vertex buffer.
    const D3D11_INPUT_ELEMENT_DESC InputElementDesc[] = {
        {"POSITION", 0, DXGI_FORMAT_R32G32B32_FLOAT, 0, D3D11_APPEND_ALIGNED_ELEMENT, D3D11_INPUT_PER_VERTEX_DATA, 0},
        {"COLOR", 0, DXGI_FORMAT_R32G32B32A32_FLOAT, 0, D3D11_APPEND_ALIGNED_ELEMENT, D3D11_INPUT_PER_VERTEX_DATA, 0},
        {"TEXCOORD", 0, DXGI_FORMAT_R32G32_FLOAT, 0, offsetof(Vertex, Position), D3D11_INPUT_PER_VERTEX_DATA, 0},
    };
    const UINT InputElementCount = static_cast<UINT>(std::size(InputElementDesc));
    CheckResult(m_Device->CreateInputLayout(InputElementDesc, InputElementCount, VertexShaderBlob->GetBufferPointer(),
                                            VertexShaderBlob->GetBufferSize(), m_VertexInputLayout.GetAddressOf()));
    m_DeviceContext->IASetInputLayout(m_VertexInputLayout.Get());

    Microsoft::WRL::ComPtr<ID3DBlob> PixelShaderBlob = CompileShader("PS", "ps_4_0");
    CheckResult(m_Device->CreatePixelShader(PixelShaderBlob->GetBufferPointer(), PixelShaderBlob->GetBufferSize(),
                                            nullptr, m_PixelShader.GetAddressOf()));

    // The quad: red grows from left to right, green from bottom to top.
    Vertex Vertices[] = {
        {{-0.5f, -0.5f, 0.0f}, {0.0f, 0.0f, 0.0f, 1.0f}},
        {{0.5f, -0.5f, 0.0f}, {1.0f, 0.0f, 0.0f, 1.0f}},
        {{0.5f, 0.5f, 0.0f}, {1.0f, 1.0f, 0.0f, 1.0f}},
        {{-0.5f, 0.5f, 0.0f}, {0.0f, 1.0f, 0.0f, 1.0f}},
    };
    for (Vertex& Item : Vertices)
    {
        Item.Position[0] *= Width;
        Item.Position[1] *= Height;
    }
    D3D11_BUFFER_DESC VertexBufferDesc = {};
    VertexBufferDesc.ByteWidth = sizeof(Vertices);
    VertexBufferDesc.Usage = D3D11_USAGE_DEFAULT;
    VertexBufferDesc.BindFlags = D3D11_BIND_VERTEX_BUFFER;
    VertexBufferDesc.CPUAccessFlags = 0;
    VertexBufferDesc.MiscFlags = 0;
    VertexBufferDesc.StructureByteStride = 0;
    D3D11_SUBRESOURCE_DATA Data = {};
    Data.pSysMem = Vertices;
    CheckResult(m_Device->CreateBuffer(&VertexBufferDesc, &Data, m_VertexBuffer.GetAddressOf()));
    const UINT Stride = sizeof(Vertex);
    const UINT Offset = 0;
    m_DeviceContext->IASetVertexBuffers(0, 1, m_VertexBuffer.GetAddressOf(), &Stride, &Offset);

    // Two clockwise triangles, front faces under the default rasterizer state.
    const WORD Indices[] = {0, 2, 1, 2, 0, 3};
    m_IndexCount = static_cast<UINT>(std::size(Indices));
    D3D11_BUFFER_DESC IndexBufferDesc = {};
    IndexBufferDesc.ByteWidth = sizeof(Indices);
    IndexBufferDesc.Usage = D3D11_USAGE_DEFAULT;
    IndexBufferDesc.BindFlags = D3D11_BIND_INDEX_BUFFER;
    IndexBufferDesc.CPUAccessFlags = 0;
    IndexBufferDesc.MiscFlags = 0;
    IndexBufferDesc.StructureByteStride = 0;
    Data.pSysMem = Indices;
    CheckResult(m_Device->CreateBuffer(&IndexBufferDesc, &Data, m_IndexBuffer.GetAddressOf()));
    m_DeviceContext->IASetIndexBuffer(m_IndexBuffer.Get(), DXGI_FORMAT_R16_UINT, 0);
    m_DeviceContext->IASetPrimitiveTopology(D3D11_PRIMITIVE_TOPOLOGY_TRIANGLELIST);

    // The camera sits H/2 in front of the quad with a 90-degree vertical
    // field of view, so the quad of height H fills the picture exactly.
    m_World = Matrix::Identity();
    m_View = Matrix::Identity();
    m_View.m_Values[3][2] = Height / 2.0f;
    const float NearPlane = 0.001f, FarPlane = 2000.0f;
    // cot(pi/4) as a single-precision sine and cosine of pi/4 give it: one
    // unit in the last place below 1 (bits 0x3F7FFFFF).
    const float Cotangent = 0.99999994f;
    const float Range = FarPlane / (FarPlane - NearPlane);
    m_Projection = {};
    m_Projection.m_Values[0][0] = Cotangent / (Width / Height);
    m_Projection.m_Values[1][1] = Cotangent;
    m_Projection.m_Values[2][2] = Range;
    m_Projection.m_Values[2][3] = 1.0f;
    m_Projection.m_Values[3][2] = -Range * NearPlane;
}

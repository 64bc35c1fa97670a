#include "Device.h"

#include <cstdio>
#include <new>
#include <vector>

#include "Com/Implementation.h"
#include "D3D11/DeviceFacts.h"
#include "Dxgi/AdapterBackend.h"
#include "FeatureLevel.h"

namespace Platform::D3D11 {

Device::Device(std::shared_ptr<DeviceState> State)
    : m_State(std::move(State)), m_Context(new ImmediateContext(static_cast<ID3D11Device*>(this), m_State))
{
    m_State->SetFront(this);
}

Device::~Device()
{
    m_State->SetFront(nullptr);
    // Bound objects go before the state that they share.
    m_Context->ClearState();
    m_Context.reset();
}

STDMETHODIMP Device::CreateBuffer(const D3D11_BUFFER_DESC* Desc, const D3D11_SUBRESOURCE_DATA* InitialData,
                                  ID3D11Buffer** Result)
{
    return Buffer::Create(m_State, Desc, InitialData, Result);
}

STDMETHODIMP Device::CreateTexture2D(const D3D11_TEXTURE2D_DESC* Desc, const D3D11_SUBRESOURCE_DATA* InitialData,
                                     ID3D11Texture2D** Result)
{
    return Texture2D::Create(m_State, Desc, InitialData, Result);
}

STDMETHODIMP Device::CreateRenderTargetView(ID3D11Resource* Resource, const D3D11_RENDER_TARGET_VIEW_DESC* Desc,
                                            ID3D11RenderTargetView** Result)
{
    return RenderTargetView::Create(m_State, Resource, Desc, Result);
}

STDMETHODIMP Device::CreateInputLayout(const D3D11_INPUT_ELEMENT_DESC* InputElementDescs, UINT NumElements,
                                       const void* ShaderBytecode, SIZE_T BytecodeLength, ID3D11InputLayout** Result)
{
    return InputLayout::Create(m_State, InputElementDescs, NumElements, ShaderBytecode, BytecodeLength, Result);
}

STDMETHODIMP Device::CreateVertexShader(const void* ShaderBytecode, SIZE_T BytecodeLength, ID3D11ClassLinkage*,
                                        ID3D11VertexShader** Result)
{
    return VertexShader::Create(m_State, ShaderBytecode, BytecodeLength, Result);
}

STDMETHODIMP Device::CreatePixelShader(const void* ShaderBytecode, SIZE_T BytecodeLength, ID3D11ClassLinkage*,
                                       ID3D11PixelShader** Result)
{
    return PixelShader::Create(m_State, ShaderBytecode, BytecodeLength, Result);
}

STDMETHODIMP_(void) Device::GetImmediateContext(ID3D11DeviceContext** ImmediateContext)
{
    if (!ImmediateContext)
        return;
    *ImmediateContext = m_Context.get();
    m_Context->AddRef();
}

} // namespace Platform::D3D11

namespace {

constexpr D3D_FEATURE_LEVEL DefaultLevels[] = {D3D_FEATURE_LEVEL_11_0, D3D_FEATURE_LEVEL_10_1, D3D_FEATURE_LEVEL_10_0,
                                               D3D_FEATURE_LEVEL_9_3,  D3D_FEATURE_LEVEL_9_2,  D3D_FEATURE_LEVEL_9_1};

bool KnownLevel(D3D_FEATURE_LEVEL Level)
{
    for (D3D_FEATURE_LEVEL Known : DefaultLevels)
        if (Known == Level)
            return true;
    return Level == D3D_FEATURE_LEVEL_11_1;
}

} // namespace

namespace {

HRESULT CreateDevice(IDXGIAdapter* Adapter, D3D_DRIVER_TYPE DriverType, UINT Flags,
                     const D3D_FEATURE_LEVEL* FeatureLevels, UINT NumFeatureLevels, UINT SDKVersion,
                     ID3D11Device** DeviceResult, D3D_FEATURE_LEVEL* FeatureLevel,
                     ID3D11DeviceContext** ImmediateContext)
{
    using namespace Platform;
    if (DeviceResult)
        *DeviceResult = nullptr;
    if (ImmediateContext)
        *ImmediateContext = nullptr;
    if (FeatureLevel)
        *FeatureLevel = static_cast<D3D_FEATURE_LEVEL>(0);
    if (SDKVersion != D3D11_SDK_VERSION || (FeatureLevels == nullptr && NumFeatureLevels != 0) ||
        (FeatureLevels != nullptr && NumFeatureLevels == 0))
        return E_INVALIDARG;
    for (UINT Index = 0; Index < NumFeatureLevels; ++Index)
        if (!KnownLevel(FeatureLevels[Index]))
            return E_INVALIDARG;
    // The debug layer is a separate component that this platform lacks.
    if (Flags & D3D11_CREATE_DEVICE_DEBUG)
        return DXGI_ERROR_SDK_COMPONENT_MISSING;

    // The adapter: the one given (driver type unknown), or the first of its
    // kind for the hardware and software driver types.
    Dxgi::AdapterBackend Chosen;
    if (Adapter)
    {
        if (DriverType != D3D_DRIVER_TYPE_UNKNOWN || !Dxgi::BackendOf(Adapter, Chosen))
            return E_INVALIDARG;
    }
    else
    {
        if (DriverType == D3D_DRIVER_TYPE_UNKNOWN || DriverType == D3D_DRIVER_TYPE_NULL)
            return E_INVALIDARG;
        const bool Software = DriverType != D3D_DRIVER_TYPE_HARDWARE;
        HRESULT Status = Dxgi::HresultFromVk(Vulkan::Instance::Acquire(Chosen.m_Instance));
        if (FAILED(Status))
            return Status;
        const std::vector<Vulkan::PhysicalDevice>& Devices = Chosen.m_Instance->PhysicalDevices();
        Chosen.m_Index = Devices.size();
        for (size_t Index = 0; Index < Devices.size() && Chosen.m_Index == Devices.size(); ++Index)
            if (Devices[Index].IsSoftware() == Software)
                Chosen.m_Index = Index;
        if (Chosen.m_Index == Devices.size())
            return DXGI_ERROR_UNSUPPORTED;
    }
    const Vulkan::PhysicalDevice& Physical = Chosen.m_Instance->PhysicalDevices()[Chosen.m_Index];

    const D3D_FEATURE_LEVEL* Levels = FeatureLevels ? FeatureLevels : DefaultLevels;
    const UINT LevelCount = FeatureLevels ? NumFeatureLevels : UINT(std::size(DefaultLevels));
    const D3D_FEATURE_LEVEL Offered = D3D11::FeatureLevelOf(Physical.m_Features, Physical.m_Properties.limits);
    D3D_FEATURE_LEVEL Level = static_cast<D3D_FEATURE_LEVEL>(0);
    for (UINT Index = 0; Index < LevelCount && Level == 0; ++Index)
        if (Levels[Index] <= Offered)
            Level = Levels[Index];
    if (Level == 0)
        return DXGI_ERROR_UNSUPPORTED;

    std::shared_ptr<Vulkan::Device> Backend;
    HRESULT Status = Dxgi::HresultFromVk(Vulkan::Device::Create(Chosen.m_Instance, Physical, Backend));
    if (FAILED(Status))
        return Status;
    std::shared_ptr<D3D11::DeviceState> State;
    Status = D3D11::DeviceState::Create(std::move(Backend), Level, Flags, State);
    if (FAILED(Status))
        return Status;
    Microsoft::WRL::ComPtr<D3D11::Device> Created = Microsoft::WRL::Make<D3D11::Device>(std::move(State));
    if (!Created)
        return E_OUTOFMEMORY;
    if (FeatureLevel)
        *FeatureLevel = Level;
    if (ImmediateContext)
        Created->GetImmediateContext(ImmediateContext);
    if (DeviceResult)
        *DeviceResult = Created.Detach();
    return DeviceResult || ImmediateContext ? S_OK : S_FALSE;
}

} // namespace

namespace Platform::D3D11 {

bool PlaceOf(ID3D11Device* Device, AdapterPlace& Place)
{
    const D3D11::Device* Object = ImplementationOf<D3D11::Device>(Device);
    if (!Object)
        return false;
    const Vulkan::PhysicalDevice& Physical = Object->State()->Vulkan()->Adapter();
    Place = {};
    Place.m_Software = Physical.IsSoftware();
    Place.m_VendorId = Physical.m_Properties.vendorID;
    if (const auto& Pci = Physical.m_PciAddress)
    {
        char Text[32];
        std::snprintf(Text, sizeof Text, "%04x:%02x:%02x.%x", Pci->m_Domain, Pci->m_Bus, Pci->m_Device,
                      Pci->m_Function);
        Place.m_PciAddress = Text;
    }
    if (const auto& Node = Physical.m_RenderNode)
    {
        Place.m_RenderMajor = Node->m_Major;
        Place.m_RenderMinor = Node->m_Minor;
    }
    return true;
}

uint64_t BusyTimeOf(ID3D11Device* Device)
{
    const D3D11::Device* Object = ImplementationOf<D3D11::Device>(Device);
    if (!Object)
        return 0;
    DeviceState& State = *Object->State();
    std::lock_guard Guard(State.m_Lock);
    return State.m_Commands.BusyTime();
}

} // namespace Platform::D3D11

HRESULT D3D11CreateDevice(IDXGIAdapter* Adapter, D3D_DRIVER_TYPE DriverType, HMODULE, UINT Flags,
                          const D3D_FEATURE_LEVEL* FeatureLevels, UINT NumFeatureLevels, UINT SDKVersion,
                          ID3D11Device** DeviceResult, D3D_FEATURE_LEVEL* FeatureLevel,
                          ID3D11DeviceContext** ImmediateContext)
{
    // No exception crosses the platform's boundary: running out of memory
    // while building the device is E_OUTOFMEMORY.
    try
    {
        return CreateDevice(Adapter, DriverType, Flags, FeatureLevels, NumFeatureLevels, SDKVersion, DeviceResult,
                            FeatureLevel, ImmediateContext);
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
}

// The video sample allocator on the software adapter: the pool it builds, the
// order it hands samples out in, how they come back, its failures and its
// lifetime.

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "VideoSampleAllocator.h"
#include "diagnostics/Trace.h"
#include "support/DebugOutputCapture.h"
#include "support/Graphics.h"

using Microsoft::WRL::ComPtr;
using Microsoft::WRL::Make;

namespace {

template <typename... Interfaces>
using ComClass =
    Microsoft::WRL::RuntimeClass<Microsoft::WRL::RuntimeClassFlags<Microsoft::WRL::ClassicCom>, Interfaces...>;

// Stands for the shared device: forwards every call, keeps a reference to
// every texture it makes, records the last texture description asked for and
// can fail the n-th texture.
class RecordingDevice final : public ComClass<ID3D11Device>
{
public:
    explicit RecordingDevice(ID3D11Device* Device) : m_Device(Device) {}

    STDMETHODIMP CreateTexture2D(const D3D11_TEXTURE2D_DESC* Desc, const D3D11_SUBRESOURCE_DATA* InitialData,
                                 ID3D11Texture2D** Texture) override
    {
        m_Description = *Desc;
        if (++m_Calls == m_FailAt)
            return m_Failure;
        const HRESULT Result = m_Device->CreateTexture2D(Desc, InitialData, Texture);
        if (SUCCEEDED(Result))
            m_Textures.emplace_back(*Texture);
        return Result;
    }
    STDMETHODIMP CreateBuffer(const D3D11_BUFFER_DESC* Desc, const D3D11_SUBRESOURCE_DATA* InitialData,
                              ID3D11Buffer** Buffer) override
    {
        return m_Device->CreateBuffer(Desc, InitialData, Buffer);
    }
    STDMETHODIMP CreateRenderTargetView(ID3D11Resource* Resource, const D3D11_RENDER_TARGET_VIEW_DESC* Desc,
                                        ID3D11RenderTargetView** View) override
    {
        return m_Device->CreateRenderTargetView(Resource, Desc, View);
    }
    STDMETHODIMP CreateInputLayout(const D3D11_INPUT_ELEMENT_DESC* Elements, UINT Count, const void* Code,
                                   SIZE_T Length, ID3D11InputLayout** Layout) override
    {
        return m_Device->CreateInputLayout(Elements, Count, Code, Length, Layout);
    }
    STDMETHODIMP CreateVertexShader(const void* Code, SIZE_T Length, ID3D11ClassLinkage* Linkage,
                                    ID3D11VertexShader** Shader) override
    {
        return m_Device->CreateVertexShader(Code, Length, Linkage, Shader);
    }
    STDMETHODIMP CreatePixelShader(const void* Code, SIZE_T Length, ID3D11ClassLinkage* Linkage,
                                   ID3D11PixelShader** Shader) override
    {
        return m_Device->CreatePixelShader(Code, Length, Linkage, Shader);
    }
    STDMETHODIMP_(D3D_FEATURE_LEVEL) GetFeatureLevel() override { return m_Device->GetFeatureLevel(); }
    STDMETHODIMP_(UINT) GetCreationFlags() override { return m_Device->GetCreationFlags(); }
    STDMETHODIMP GetDeviceRemovedReason() override { return m_Device->GetDeviceRemovedReason(); }
    STDMETHODIMP_(void) GetImmediateContext(ID3D11DeviceContext** Context) override
    {
        m_Device->GetImmediateContext(Context);
    }

    // Lets go of the kept textures; the count of those that went with it,
    // which is all of them when nobody else holds one.
    size_t ReleaseTextures()
    {
        size_t Destroyed = 0;
        for (ComPtr<ID3D11Texture2D>& Texture : m_Textures)
            Destroyed += Texture.Detach()->Release() == 0 ? 1 : 0;
        m_Textures.clear();
        return Destroyed;
    }

    ComPtr<ID3D11Device> m_Device;
    std::vector<ComPtr<ID3D11Texture2D>> m_Textures;
    D3D11_TEXTURE2D_DESC m_Description = {};
    int m_Calls = 0;
    int m_FailAt = 0;
    HRESULT m_Failure = E_OUTOFMEMORY;
};

// A device manager that forwards to a real one and counts the handles open.
class CountingManager final : public ComClass<IMFDXGIDeviceManager>
{
public:
    explicit CountingManager(IMFDXGIDeviceManager* Manager) : m_Manager(Manager) {}

    STDMETHODIMP CloseDeviceHandle(HANDLE Device) override
    {
        const HRESULT Result = m_Manager->CloseDeviceHandle(Device);
        m_Open -= SUCCEEDED(Result) ? 1 : 0;
        return Result;
    }
    STDMETHODIMP GetVideoService(HANDLE Device, REFIID Riid, void** Service) override
    {
        return m_Manager->GetVideoService(Device, Riid, Service);
    }
    STDMETHODIMP LockDevice(HANDLE Device, REFIID Riid, void** Object, BOOL Block) override
    {
        return m_Manager->LockDevice(Device, Riid, Object, Block);
    }
    STDMETHODIMP OpenDeviceHandle(HANDLE* Device) override
    {
        const HRESULT Result = m_Manager->OpenDeviceHandle(Device);
        m_Open += SUCCEEDED(Result) ? 1 : 0;
        return Result;
    }
    STDMETHODIMP ResetDevice(IUnknown* Device, UINT Token) override { return m_Manager->ResetDevice(Device, Token); }
    STDMETHODIMP TestDevice(HANDLE Device) override { return m_Manager->TestDevice(Device); }
    STDMETHODIMP UnlockDevice(HANDLE Device, BOOL SaveState) override
    {
        return m_Manager->UnlockDevice(Device, SaveState);
    }

    ComPtr<IMFDXGIDeviceManager> m_Manager;
    int m_Open = 0;
};

class NotifyCounter final : public ComClass<IMFVideoSampleAllocatorNotify>
{
public:
    STDMETHODIMP NotifyRelease() override
    {
        ++m_Count;
        return S_OK;
    }
    std::atomic<int> m_Count{0};
};

// Hung on a sample as an attribute: counts its own destruction, and so the
// destruction of the attribute store, that is the sample, that holds it.
class Canary final : public ComClass<IUnknown>
{
public:
    explicit Canary(std::atomic<int>& Destroyed) : m_Destroyed(Destroyed) {}
    ~Canary() override { ++m_Destroyed; }

private:
    std::atomic<int>& m_Destroyed;
};

const GUID CanaryKey = {0x6a1e5b3c, 0x27d4, 0x4f0e, {0x9a, 0x51, 0x3c, 0x88, 0x0d, 0x7e, 0x41, 0x92}};

ComPtr<IMFMediaType> VideoType(const GUID& Subtype, UINT32 Width = 64, UINT32 Height = 32)
{
    ComPtr<IMFMediaType> Type;
    EXPECT_EQ(MFCreateMediaType(Type.GetAddressOf()), S_OK);
    Type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
    Type->SetGUID(MF_MT_SUBTYPE, Subtype);
    MFSetAttributeSize(Type.Get(), MF_MT_FRAME_SIZE, Width, Height);
    return Type;
}

// What the encoding run asks for: default usage, shader resource and render
// target.
ComPtr<IMFAttributes> RunAttributes()
{
    ComPtr<IMFAttributes> Attributes;
    EXPECT_EQ(MFCreateAttributes(Attributes.GetAddressOf(), 4), S_OK);
    Attributes->SetUINT32(MF_SA_D3D11_USAGE, D3D11_USAGE_DEFAULT);
    Attributes->SetUINT32(MF_SA_D3D11_BINDFLAGS, D3D11_BIND_SHADER_RESOURCE | D3D11_BIND_RENDER_TARGET);
    return Attributes;
}

UINT32 SampleIndexOf(IMFSample* Sample)
{
    UINT32 Index = ~0u;
    EXPECT_EQ(Sample->GetUINT32(__uuidof(SampleIndex), &Index), S_OK);
    return Index;
}

ComPtr<ID3D11Texture2D> TextureOf(IMFSample* Sample)
{
    ComPtr<IMFMediaBuffer> Buffer;
    EXPECT_EQ(Sample->GetBufferByIndex(0, Buffer.GetAddressOf()), S_OK);
    ComPtr<IMFDXGIBuffer> Dxgi;
    ComPtr<ID3D11Texture2D> Texture;
    if (Buffer && SUCCEEDED(Buffer.As(&Dxgi)))
    {
        EXPECT_EQ(Dxgi->GetResource(IID_PPV_ARGS(&Texture)), S_OK);
    }
    return Texture;
}

// The text of a trace line after "VideoSampleAllocator.cpp(<line>): ".
std::wstring Message(const std::wstring& Line)
{
    const std::wstring Source = L"VideoSampleAllocator.cpp(";
    const size_t End = Line.find(L"): ");
    if (Line.compare(0, Source.size(), Source) != 0 || End == std::wstring::npos)
        return L"<from elsewhere> " + Line;
    return Line.substr(End + 3);
}

std::vector<std::wstring> Messages(const DebugOutputCapture& Capture)
{
    std::vector<std::wstring> Result;
    for (const std::wstring& Line : Capture.Lines())
        Result.push_back(Message(Line));
    return Result;
}

std::wstring Failure(const char* Function, HRESULT Result, const wchar_t* Expression)
{
    return FormatW(L"VideoSampleAllocator::%hs: Throwing an exception, 0x%08X, expression %ls\n", Function,
                   static_cast<unsigned>(Result), Expression);
}

// One allocator on the shared device, reached through a real device manager
// and a recording device.
class VideoSampleAllocatorTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(MFStartup(MF_VERSION), S_OK);
        m_Device = Make<RecordingDevice>(Graphics::Shared().m_Device.Get());
        m_Manager = NewManager(m_Device.Get());
        m_Allocator = Make<VideoSampleAllocator>();
        m_Allocator.As(&m_Callback);
    }
    void TearDown() override
    {
        m_Callback.Reset();
        m_Allocator.Reset();
        MFShutdown();
    }

    static ComPtr<IMFDXGIDeviceManager> NewManager(IUnknown* Device)
    {
        UINT Token = 0;
        ComPtr<IMFDXGIDeviceManager> Manager;
        EXPECT_EQ(MFCreateDXGIDeviceManager(&Token, Manager.GetAddressOf()), S_OK);
        EXPECT_EQ(Manager->ResetDevice(Device, Token), S_OK);
        return Manager;
    }

    // Waits until the work queue has run everything queued so far.
    static void Drain()
    {
        MFShutdown();
        MFStartup(MF_VERSION);
    }

    HRESULT Initialize(DWORD Initial, DWORD Maximal, IMFAttributes* Attributes,
                       const GUID& Subtype = MFVideoFormat_ARGB32)
    {
        return m_Allocator->InitializeSampleAllocatorEx(Initial, Maximal, Attributes, VideoType(Subtype).Get());
    }
    HRESULT InitializeWithManager(DWORD Count)
    {
        const HRESULT Result = m_Allocator->SetDirectXManager(m_Manager.Get());
        return SUCCEEDED(Result) ? Initialize(Count, Count, RunAttributes().Get()) : Result;
    }

    LONG FreeCount()
    {
        LONG Count = -1;
        EXPECT_EQ(m_Callback->GetFreeSampleCount(&Count), S_OK);
        return Count;
    }

    ComPtr<IMFSample> Allocate()
    {
        ComPtr<IMFSample> Sample;
        EXPECT_EQ(m_Allocator->AllocateSample(Sample.GetAddressOf()), S_OK);
        return Sample;
    }

    ComPtr<RecordingDevice> m_Device;
    ComPtr<IMFDXGIDeviceManager> m_Manager;
    ComPtr<VideoSampleAllocator> m_Allocator;
    ComPtr<IMFVideoSampleAllocatorCallback> m_Callback;
};

} // namespace

TEST_F(VideoSampleAllocatorTest, AFreshPoolHandsOutRoundRobinThenAnswersEmptyWithoutATrace)
{
    ASSERT_EQ(m_Allocator->SetDirectXManager(m_Manager.Get()), S_OK);
    ASSERT_EQ(Initialize(16, 64, RunAttributes().Get()), S_OK);
    ASSERT_EQ(m_Device->m_Textures.size(), 64u);
    EXPECT_EQ(FreeCount(), 64);

    std::vector<ComPtr<IMFSample>> Out;
    std::set<ID3D11Texture2D*> Textures;
    for (UINT32 Step = 1; Step <= 64; ++Step)
    {
        const UINT32 Expected = Step % 64; // 1, 2, ..., 63, 0
        ComPtr<IMFSample> Sample = Allocate();
        ASSERT_TRUE(Sample);
        EXPECT_EQ(SampleIndexOf(Sample.Get()), Expected);
        UINT32 Items = 0;
        Sample->GetCount(&Items);
        EXPECT_EQ(Items, 1u);

        // One full-frame buffer on the sample's own texture, the texture
        // that was made for its slot.
        DWORD Buffers = 0;
        Sample->GetBufferCount(&Buffers);
        ASSERT_EQ(Buffers, 1u);
        ComPtr<IMFMediaBuffer> Buffer;
        Sample->GetBufferByIndex(0, Buffer.GetAddressOf());
        ComPtr<IMF2DBuffer> Buffer2D;
        ASSERT_EQ(Buffer.As(&Buffer2D), S_OK);
        DWORD Current = 0, Contiguous = 0;
        Buffer->GetCurrentLength(&Current);
        Buffer2D->GetContiguousLength(&Contiguous);
        EXPECT_EQ(Contiguous, 64u * 32u * 4u);
        EXPECT_EQ(Current, Contiguous);
        ComPtr<ID3D11Texture2D> Texture = TextureOf(Sample.Get());
        EXPECT_EQ(Texture.Get(), m_Device->m_Textures[Expected].Get());
        Textures.insert(Texture.Get());
        D3D11_TEXTURE2D_DESC Description;
        Texture->GetDesc(&Description);
        EXPECT_EQ(Description.Format, DXGI_FORMAT_B8G8R8A8_UNORM);
        EXPECT_EQ(Description.Usage, D3D11_USAGE_DEFAULT);
        EXPECT_EQ(Description.BindFlags, UINT{D3D11_BIND_SHADER_RESOURCE | D3D11_BIND_RENDER_TARGET});
        EXPECT_EQ(Description.CPUAccessFlags, 0u);
        EXPECT_EQ(Description.MiscFlags, 0u);
        Out.push_back(Sample);
    }
    EXPECT_EQ(Textures.size(), 64u);
    EXPECT_EQ(FreeCount(), 0);

    {
        DebugOutputCapture Capture;
        IMFSample* Sample = reinterpret_cast<IMFSample*>(&Capture);
        EXPECT_EQ(m_Allocator->AllocateSample(&Sample), MF_E_SAMPLEALLOCATOR_EMPTY);
        EXPECT_EQ(Sample, nullptr);
        EXPECT_TRUE(Capture.Lines().empty());
    }

    Out.clear();
    Drain();
    EXPECT_EQ(FreeCount(), 64);
}

TEST_F(VideoSampleAllocatorTest, ASampleComesBackOnceToTheLowestEmptySlotWithOneNotification)
{
    ASSERT_EQ(InitializeWithManager(4), S_OK);
    auto Notify = Make<NotifyCounter>();
    ASSERT_EQ(m_Callback->SetCallback(Notify.Get()), S_OK);

    std::vector<ComPtr<IMFSample>> Out;
    for (int Index = 0; Index < 4; ++Index)
        Out.push_back(Allocate());
    ASSERT_EQ(SampleIndexOf(Out[2].Get()), 3u);
    ASSERT_EQ(SampleIndexOf(Out[0].Get()), 1u);
    IMFSample* const FromSlot3 = Out[2].Get();
    IMFSample* const FromSlot1 = Out[0].Get();

    // Two users: the first one's release brings nothing back.
    ComPtr<IMFSample> SecondUser = Out[2];
    Out[2].Reset();
    Drain();
    EXPECT_EQ(FreeCount(), 0);
    EXPECT_EQ(Notify->m_Count, 0);
    SecondUser.Reset();
    Drain();
    EXPECT_EQ(FreeCount(), 1);
    EXPECT_EQ(Notify->m_Count, 1);
    Out[0].Reset();
    Drain();
    EXPECT_EQ(FreeCount(), 2);
    EXPECT_EQ(Notify->m_Count, 2);

    // The first return took slot 0, the lowest empty one, not the slot it
    // came from; the second took slot 1. The cursor stands at slot 0, handed
    // out last, so slot 1 comes first.
    ComPtr<IMFSample> Again = Allocate();
    EXPECT_EQ(Again.Get(), FromSlot1);
    EXPECT_EQ(SampleIndexOf(Again.Get()), 1u);
    ComPtr<IMFSample> Last = Allocate();
    EXPECT_EQ(Last.Get(), FromSlot3);
    EXPECT_EQ(SampleIndexOf(Last.Get()), 0u);
    IMFSample* Empty = nullptr;
    EXPECT_EQ(m_Allocator->AllocateSample(&Empty), MF_E_SAMPLEALLOCATOR_EMPTY);

    // Without a callback returns still come back, unannounced.
    ASSERT_EQ(m_Callback->SetCallback(nullptr), S_OK);
    Last.Reset();
    Drain();
    EXPECT_EQ(FreeCount(), 1);
    EXPECT_EQ(Notify->m_Count, 2);
}

TEST_F(VideoSampleAllocatorTest, ThePreviousUsersAttributesGoButItsTimesStay)
{
    ASSERT_EQ(InitializeWithManager(1), S_OK);
    ComPtr<IMFSample> Sample = Allocate();
    Sample->SetUINT32(MFSampleExtension_CleanPoint, 1);
    Sample->SetUINT32(MFSampleExtension_Discontinuity, 1);
    Sample->SetUINT32(__uuidof(SampleIndex), 7);
    Sample->SetSampleTime(166833);
    Sample->SetSampleDuration(166834);
    IMFSample* const First = Sample.Get();
    Sample.Reset();
    Drain();

    Sample = Allocate();
    ASSERT_EQ(Sample.Get(), First);
    UINT32 Items = 0, Value = 0;
    Sample->GetCount(&Items);
    EXPECT_EQ(Items, 1u);
    EXPECT_EQ(Sample->GetUINT32(MFSampleExtension_CleanPoint, &Value), MF_E_ATTRIBUTENOTFOUND);
    EXPECT_EQ(SampleIndexOf(Sample.Get()), 0u);
    LONGLONG Time = 0, Duration = 0;
    EXPECT_EQ(Sample->GetSampleTime(&Time), S_OK);
    EXPECT_EQ(Sample->GetSampleDuration(&Duration), S_OK);
    EXPECT_EQ(Time, 166833);
    EXPECT_EQ(Duration, 166834);
}

TEST_F(VideoSampleAllocatorTest, InitialisingTwiceFailsUninitialisingLetsGoAndABuildStartsAfresh)
{
    ASSERT_EQ(InitializeWithManager(4), S_OK);
    auto Notify = Make<NotifyCounter>();
    m_Callback->SetCallback(Notify.Get());
    ComPtr<IMFSample> Held = Allocate();
    std::atomic<int> Destroyed{0};
    Held->SetUnknown(CanaryKey, Make<Canary>(Destroyed).Get());

    {
        DebugOutputCapture Capture;
        EXPECT_EQ(Initialize(8, 8, nullptr), E_FAIL);
        const auto Lines = Messages(Capture);
        ASSERT_EQ(Lines.size(), 2u);
        EXPECT_EQ(Lines[1], Failure("InitializeSampleAllocatorEx", E_FAIL, L"m_ItemVector.empty()"));
    }
    EXPECT_EQ(m_Device->m_Calls, 4);
    EXPECT_EQ(FreeCount(), 3);

    // The free samples go with their textures; the one out stays with its
    // user, and when it comes back it finds no slot: destroyed, unannounced.
    EXPECT_EQ(m_Allocator->UninitializeSampleAllocator(), S_OK);
    EXPECT_EQ(FreeCount(), 0);
    {
        DebugOutputCapture Capture;
        IMFSample* Sample = nullptr;
        EXPECT_EQ(m_Allocator->AllocateSample(&Sample), MF_E_NOT_INITIALIZED);
        const auto Lines = Messages(Capture);
        ASSERT_EQ(Lines.size(), 1u);
        EXPECT_EQ(Lines[0], Failure("AllocateSample", MF_E_NOT_INITIALIZED, L"!m_ItemVector.empty()"));
    }
    ComPtr<ID3D11Texture2D> HeldTexture = TextureOf(Held.Get());
    Held.Reset();
    Drain();
    EXPECT_EQ(Destroyed, 1);
    EXPECT_EQ(Notify->m_Count, 0);
    EXPECT_EQ(FreeCount(), 0);
    HeldTexture.Reset();
    EXPECT_EQ(m_Device->ReleaseTextures(), 4u);

    // Uninitialising twice is harmless; a new build takes the new type.
    EXPECT_EQ(m_Allocator->UninitializeSampleAllocator(), S_OK);
    ASSERT_EQ(m_Allocator->InitializeSampleAllocatorEx(2, 2, RunAttributes().Get(),
                                                       VideoType(MFVideoFormat_RGB32, 32, 16).Get()),
              S_OK);
    EXPECT_EQ(FreeCount(), 2);
    ComPtr<IMFSample> Sample = Allocate();
    EXPECT_EQ(SampleIndexOf(Sample.Get()), 1u);
    D3D11_TEXTURE2D_DESC Description;
    TextureOf(Sample.Get())->GetDesc(&Description);
    EXPECT_EQ(Description.Width, 32u);
    EXPECT_EQ(Description.Height, 16u);
}

TEST_F(VideoSampleAllocatorTest, WithoutADeviceManagerNothingIsBuilt)
{
    DebugOutputCapture Capture;
    EXPECT_EQ(Initialize(4, 4, nullptr), E_FAIL);
    const auto Lines = Messages(Capture);
    ASSERT_EQ(Lines.size(), 2u);
    EXPECT_EQ(Lines[1], Failure("InitializeSampleAllocatorEx", E_FAIL, L"m_DxgiDeviceManager"));
    EXPECT_EQ(FreeCount(), 0);
    IMFSample* Sample = nullptr;
    EXPECT_EQ(m_Allocator->AllocateSample(&Sample), MF_E_NOT_INITIALIZED);

    // The manager given afterwards is used from then on.
    ASSERT_EQ(m_Allocator->SetDirectXManager(m_Manager.Get()), S_OK);
    EXPECT_EQ(m_Device->m_Calls, 0);
    EXPECT_EQ(Initialize(4, 4, nullptr), S_OK);
    EXPECT_EQ(m_Device->m_Calls, 4);
}

TEST_F(VideoSampleAllocatorTest, SubtypesChooseTheTextureFormatAndAttributesTheRest)
{
    ASSERT_EQ(m_Allocator->SetDirectXManager(m_Manager.Get()), S_OK);
    const struct
    {
        GUID Subtype;
        DXGI_FORMAT Format;
    } Cases[] = {{MFVideoFormat_ARGB32, DXGI_FORMAT_B8G8R8A8_UNORM},
                 {MFVideoFormat_RGB32, DXGI_FORMAT_B8G8R8A8_UNORM},
                 {MFVideoFormat_NV12, DXGI_FORMAT_NV12},
                 {MFVideoFormat_YUY2, DXGI_FORMAT_YUY2}};
    for (const auto& Case : Cases)
    {
        const int Before = m_Device->m_Calls;
        const HRESULT Result = Initialize(2, 2, RunAttributes().Get(), Case.Subtype);
        // The software device may lack the video formats; the pool asks for
        // them all the same.
        EXPECT_TRUE(Result == S_OK || (Result == E_INVALIDARG && Case.Format != DXGI_FORMAT_B8G8R8A8_UNORM))
            << std::hex << Result;
        EXPECT_GT(m_Device->m_Calls, Before);
        EXPECT_EQ(m_Device->m_Description.Format, Case.Format);
        if (Result == S_OK)
        {
            EXPECT_EQ(FreeCount(), 2);
            ComPtr<IMFSample> Sample = Allocate();
            D3D11_TEXTURE2D_DESC Description;
            TextureOf(Sample.Get())->GetDesc(&Description);
            EXPECT_EQ(Description.Format, Case.Format);
        }
        else
            EXPECT_EQ(FreeCount(), 0);
        m_Allocator->UninitializeSampleAllocator();
    }

    {
        DebugOutputCapture Capture;
        const int Before = m_Device->m_Calls;
        EXPECT_EQ(Initialize(2, 2, nullptr, MFVideoFormat_H264), E_NOTIMPL);
        EXPECT_EQ(m_Device->m_Calls, Before);
        const auto Lines = Messages(Capture);
        ASSERT_EQ(Lines.size(), 2u);
        EXPECT_EQ(Lines[1], Failure("InitializeSampleAllocatorEx", E_NOTIMPL,
                                    L"Subtype == MFVideoFormat_ARGB32 || Subtype == MFVideoFormat_RGB32 || "
                                    L"Subtype == MFVideoFormat_NV12 || Subtype == MFVideoFormat_YUY2"));
    }

    // The description asked for, field by field; the sharing attributes in
    // their order of precedence. The device refuses the first texture so that
    // nothing is built.
    m_Device->m_FailAt = m_Device->m_Calls + 1;
    m_Device->m_Failure = DXGI_ERROR_UNSUPPORTED;
    EXPECT_EQ(m_Allocator->InitializeSampleAllocatorEx(1, 1, RunAttributes().Get(),
                                                       VideoType(MFVideoFormat_ARGB32, 48, 20).Get()),
              DXGI_ERROR_UNSUPPORTED);
    const D3D11_TEXTURE2D_DESC& Asked = m_Device->m_Description;
    EXPECT_EQ(Asked.Width, 48u);
    EXPECT_EQ(Asked.Height, 20u);
    EXPECT_EQ(Asked.MipLevels, 1u);
    EXPECT_EQ(Asked.ArraySize, 1u);
    EXPECT_EQ(Asked.SampleDesc.Count, 1u);
    EXPECT_EQ(Asked.SampleDesc.Quality, 0u);
    EXPECT_EQ(Asked.Usage, D3D11_USAGE_DEFAULT);
    EXPECT_EQ(Asked.BindFlags, 0x28u);
    EXPECT_EQ(Asked.CPUAccessFlags, 0u);
    EXPECT_EQ(Asked.MiscFlags, 0u);

    const struct
    {
        std::vector<GUID> Keys;
        UINT MiscFlags;
    } Sharing[] = {{{MF_SA_D3D11_SHARED_WITHOUT_MUTEX}, 0x2},
                   {{MF_SA_D3D11_SHARED, MF_SA_D3D11_SHARED_WITHOUT_MUTEX}, 0x100},
                   {{__uuidof(SharedNtHandle), MF_SA_D3D11_SHARED, MF_SA_D3D11_SHARED_WITHOUT_MUTEX}, 0x900}};
    for (const auto& Case : Sharing)
    {
        ComPtr<IMFAttributes> Attributes = RunAttributes();
        for (const GUID& Key : Case.Keys)
            Attributes->SetUINT32(Key, 1);
        m_Device->m_FailAt = m_Device->m_Calls + 1;
        EXPECT_EQ(Initialize(1, 1, Attributes.Get()), DXGI_ERROR_UNSUPPORTED);
        EXPECT_EQ(m_Device->m_Description.MiscFlags, Case.MiscFlags);
    }

    // Mistyped settings keep their defaults: dynamic usage, CPU write.
    ComPtr<IMFAttributes> Mistyped;
    MFCreateAttributes(Mistyped.GetAddressOf(), 1);
    Mistyped->SetUINT64(MF_SA_D3D11_USAGE, D3D11_USAGE_DEFAULT);
    Mistyped->SetString(MF_SA_D3D11_BINDFLAGS, L"render target");
    m_Device->m_FailAt = m_Device->m_Calls + 1;
    EXPECT_EQ(Initialize(1, 1, Mistyped.Get()), DXGI_ERROR_UNSUPPORTED);
    EXPECT_EQ(m_Device->m_Description.Usage, D3D11_USAGE_DYNAMIC);
    EXPECT_EQ(m_Device->m_Description.BindFlags, 0u);
    EXPECT_EQ(m_Device->m_Description.CPUAccessFlags, UINT{D3D11_CPU_ACCESS_WRITE});
}

TEST_F(VideoSampleAllocatorTest, ThePoolSizeIsTheLargestCountAndTheCountOnlyFormMakesDynamicTextures)
{
    ASSERT_EQ(m_Allocator->SetDirectXManager(m_Manager.Get()), S_OK);
    const auto BuildAndCount = [this](DWORD Initial, DWORD Maximal, IMFAttributes* Attributes) {
        const HRESULT Result = Initialize(Initial, Maximal, Attributes);
        const LONG Count = FreeCount();
        m_Allocator->UninitializeSampleAllocator();
        return SUCCEEDED(Result) ? Count : static_cast<LONG>(Result);
    };
    EXPECT_EQ(BuildAndCount(16, 64, RunAttributes().Get()), 64);
    EXPECT_EQ(BuildAndCount(64, 16, RunAttributes().Get()), 64);
    ComPtr<IMFAttributes> Minimum = RunAttributes();
    Minimum->SetUINT32(MF_SA_MINIMUM_OUTPUT_SAMPLE_COUNT, 100);
    EXPECT_EQ(BuildAndCount(16, 64, Minimum.Get()), 100);
    EXPECT_EQ(m_Device->ReleaseTextures(), 228u);
    {
        DebugOutputCapture Capture;
        EXPECT_EQ(BuildAndCount(0, 0, nullptr), static_cast<LONG>(E_FAIL));
        const auto Lines = Messages(Capture);
        ASSERT_GE(Lines.size(), 2u);
        EXPECT_EQ(Lines[1], Failure("InitializeSampleAllocatorEx", E_FAIL, L"SampleCount > 0"));
    }

    {
        DebugOutputCapture Capture;
        EXPECT_EQ(m_Allocator->InitializeSampleAllocator(0, VideoType(MFVideoFormat_ARGB32).Get()), E_INVALIDARG);
        EXPECT_EQ(m_Allocator->InitializeSampleAllocator(4, nullptr), E_INVALIDARG);
        EXPECT_EQ(m_Allocator->InitializeSampleAllocatorEx(4, 4, nullptr, nullptr), E_INVALIDARG);
        const auto Lines = Messages(Capture);
        ASSERT_EQ(Lines.size(), 6u);
        EXPECT_EQ(Lines[1], Failure("InitializeSampleAllocator", E_INVALIDARG, L"SampleCount > 0 && MediaType"));
        EXPECT_EQ(Lines[5], Failure("InitializeSampleAllocatorEx", E_INVALIDARG, L"MediaType"));
    }

    EXPECT_EQ(m_Device->m_Calls, 228);
    ASSERT_EQ(m_Allocator->InitializeSampleAllocator(4, VideoType(MFVideoFormat_ARGB32).Get()), S_OK);
    EXPECT_EQ(FreeCount(), 4);
    ASSERT_EQ(m_Device->m_Textures.size(), 4u);
    for (const ComPtr<ID3D11Texture2D>& Texture : m_Device->m_Textures)
    {
        D3D11_TEXTURE2D_DESC Description;
        Texture->GetDesc(&Description);
        EXPECT_EQ(Description.Usage, D3D11_USAGE_DYNAMIC);
        EXPECT_EQ(Description.BindFlags, 0u);
        EXPECT_EQ(Description.CPUAccessFlags, UINT{D3D11_CPU_ACCESS_WRITE});
        EXPECT_EQ(Description.MiscFlags, 0u);
    }
}

TEST_F(VideoSampleAllocatorTest, ATextureFailureLeavesThePoolEmptyTheHandleClosedAndTheLocksFree)
{
    auto Manager = Make<CountingManager>(m_Manager.Get());
    ASSERT_EQ(m_Allocator->SetDirectXManager(Manager.Get()), S_OK);
    m_Device->m_FailAt = 5;
    {
        DebugOutputCapture Capture;
        EXPECT_EQ(Initialize(16, 16, RunAttributes().Get()), E_OUTOFMEMORY);
        const auto Lines = Messages(Capture);
        ASSERT_EQ(Lines.size(), 2u);
        EXPECT_EQ(Lines[1], Failure("InitializeSampleAllocatorEx", E_OUTOFMEMORY,
                                    L"Device->CreateTexture2D(&Description, nullptr, Texture.GetAddressOf())"));
    }
    EXPECT_EQ(m_Device->m_Calls, 5);
    EXPECT_EQ(Manager->m_Open, 0);
    // The four samples built before the failure went with their textures.
    EXPECT_EQ(m_Device->ReleaseTextures(), 4u);

    // Every lock is free: each of these takes one or both, from this thread
    // and from another.
    EXPECT_EQ(FreeCount(), 0);
    IMFSample* Sample = nullptr;
    EXPECT_EQ(m_Allocator->AllocateSample(&Sample), MF_E_NOT_INITIALIZED);
    std::thread([this] { EXPECT_EQ(m_Allocator->UninitializeSampleAllocator(), S_OK); }).join();
    m_Device->m_FailAt = 0;
    EXPECT_EQ(Initialize(16, 16, RunAttributes().Get()), S_OK);
    EXPECT_EQ(FreeCount(), 16);
    EXPECT_EQ(Manager->m_Open, 0);
}

TEST_F(VideoSampleAllocatorTest, AnswersExactlyItsFourInterfaces)
{
    IUnknown* const Primary = static_cast<IMFVideoSampleAllocatorEx*>(m_Allocator.Get());
    const auto Ask = [this](REFIID Riid) {
        void* Object = reinterpret_cast<void*>(this);
        const HRESULT Result = m_Allocator->QueryInterface(Riid, &Object);
        if (SUCCEEDED(Result))
            static_cast<IUnknown*>(Object)->Release();
        return std::make_pair(Result, Object);
    };
    EXPECT_EQ(Ask(__uuidof(IUnknown)), std::make_pair(S_OK, static_cast<void*>(Primary)));
    EXPECT_EQ(Ask(__uuidof(IMFVideoSampleAllocatorEx)), std::make_pair(S_OK, static_cast<void*>(Primary)));
    EXPECT_EQ(Ask(__uuidof(IMFVideoSampleAllocator)),
              std::make_pair(S_OK, static_cast<void*>(static_cast<IMFVideoSampleAllocator*>(m_Allocator.Get()))));
    EXPECT_EQ(
        Ask(__uuidof(IMFVideoSampleAllocatorCallback)),
        std::make_pair(S_OK, static_cast<void*>(static_cast<IMFVideoSampleAllocatorCallback*>(m_Allocator.Get()))));
    EXPECT_EQ(Ask(__uuidof(IMFAsyncCallback)),
              std::make_pair(S_OK, static_cast<void*>(static_cast<IMFAsyncCallback*>(m_Allocator.Get()))));
    for (const IID& Other : {__uuidof(IMFAttributes), __uuidof(IMFSample), __uuidof(IMFTrackedSample),
                             __uuidof(IMFVideoSampleAllocatorNotify), __uuidof(IMFDXGIDeviceManager)})
        EXPECT_EQ(Ask(Other), std::make_pair(E_NOINTERFACE, static_cast<void*>(nullptr)));

    // One count for all of them.
    ComPtr<IMFAsyncCallback> Callback;
    m_Allocator.As(&Callback);
    EXPECT_EQ(Callback->AddRef(), 4u);
    EXPECT_EQ(m_Callback->Release(), 3u);
}

TEST_F(VideoSampleAllocatorTest, SetDirectXManagerTakesOnlyAManagerAndTheLastOneCounts)
{
    {
        DebugOutputCapture Capture;
        EXPECT_EQ(m_Allocator->SetDirectXManager(nullptr), E_INVALIDARG);
        ComPtr<IMFAttributes> NotAManager;
        MFCreateAttributes(NotAManager.GetAddressOf(), 1);
        EXPECT_EQ(m_Allocator->SetDirectXManager(NotAManager.Get()), E_NOINTERFACE);
        const auto Lines = Messages(Capture);
        ASSERT_EQ(Lines.size(), 4u);
        EXPECT_EQ(Lines[1], Failure("SetDirectXManager", E_INVALIDARG, L"ManagerUnknown"));
        EXPECT_EQ(Lines[3], Failure("SetDirectXManager", E_NOINTERFACE,
                                    L"ManagerUnknown->QueryInterface(IID_PPV_ARGS(&DxgiDeviceManager))"));
    }
    EXPECT_EQ(Initialize(2, 2, nullptr), E_FAIL);

    auto Other = Make<RecordingDevice>(Graphics::Shared().m_Device.Get());
    ASSERT_EQ(m_Allocator->SetDirectXManager(m_Manager.Get()), S_OK);
    ASSERT_EQ(m_Allocator->SetDirectXManager(NewManager(Other.Get()).Get()), S_OK);
    ASSERT_EQ(Initialize(2, 2, nullptr), S_OK);
    EXPECT_EQ(m_Device->m_Calls, 0);
    EXPECT_EQ(Other->m_Calls, 2);

    // A new manager leaves the pool as it is.
    ASSERT_EQ(m_Allocator->SetDirectXManager(m_Manager.Get()), S_OK);
    EXPECT_EQ(FreeCount(), 2);
    EXPECT_TRUE(Allocate());
}

TEST_F(VideoSampleAllocatorTest, CallbackMethodsCheckTheirArguments)
{
    EXPECT_EQ(m_Callback->GetFreeSampleCount(nullptr), E_POINTER);
    EXPECT_EQ(FreeCount(), 0);
    DWORD Flags = 7, Queue = 9;
    ComPtr<IMFAsyncCallback> Callback;
    m_Allocator.As(&Callback);
    EXPECT_EQ(Callback->GetParameters(&Flags, &Queue), E_NOTIMPL);
    EXPECT_EQ(Flags, 7u);
    EXPECT_EQ(Queue, 9u);
    EXPECT_EQ(m_Allocator->AllocateSample(nullptr), E_POINTER);
    IMFSample* Nothing = reinterpret_cast<IMFSample*>(&Flags);
    EXPECT_EQ(m_Allocator->AllocateSample(&Nothing), MF_E_NOT_INITIALIZED);
    EXPECT_EQ(Nothing, nullptr);

    // A result that carries no sample is refused and changes nothing.
    ASSERT_EQ(InitializeWithManager(2), S_OK);
    ComPtr<IMFSample> Sample = Allocate();
    ComPtr<IMFAttributes> NotASample;
    MFCreateAttributes(NotASample.GetAddressOf(), 1);
    ComPtr<IMFAsyncResult> Result;
    MFCreateAsyncResult(NotASample.Get(), Callback.Get(), nullptr, Result.GetAddressOf());
    {
        DebugOutputCapture Capture;
        EXPECT_EQ(Callback->Invoke(nullptr), E_INVALIDARG);
        EXPECT_EQ(Callback->Invoke(Result.Get()), E_NOINTERFACE);
        const auto Lines = Messages(Capture);
        ASSERT_EQ(Lines.size(), 2u);
        EXPECT_EQ(Lines[0], Failure("Invoke", E_INVALIDARG, L"AsyncResult"));
        EXPECT_EQ(Lines[1], Failure("Invoke", E_NOINTERFACE, L"SampleUnknown->QueryInterface(IID_PPV_ARGS(&Sample))"));
    }
    EXPECT_EQ(FreeCount(), 1);
}

TEST_F(VideoSampleAllocatorTest, EntryTraceLinesNameTheObjectAndItsArguments)
{
    auto Notify = Make<NotifyCounter>();
    auto Type = VideoType(MFVideoFormat_ARGB32);
    auto Attributes = RunAttributes();
    LONG Count = 0;
    ComPtr<IMFSample> Sample;
    VideoSampleAllocator* Self = nullptr;
    DebugOutputCapture Capture;
    {
        auto Allocator = Make<VideoSampleAllocator>();
        Self = Allocator.Get();
        Allocator->SetDirectXManager(m_Manager.Get());
        Allocator->InitializeSampleAllocator(2, Type.Get());
        Allocator->UninitializeSampleAllocator();
        Allocator->InitializeSampleAllocatorEx(16, 64, Attributes.Get(), Type.Get());
        Allocator->SetCallback(Notify.Get());
        Allocator->GetFreeSampleCount(&Count);
        Allocator->AllocateSample(Sample.GetAddressOf());
        Sample.Reset();
        Drain(); // Invoke traces nothing
        Allocator->UninitializeSampleAllocator();
    }
    const std::wstring This = FormatW(L"this 0x%p", Self);
    const std::vector<std::wstring> Expected = {
        L"VideoSampleAllocator::VideoSampleAllocator: " + This + L"\n",
        L"VideoSampleAllocator::SetDirectXManager: " + This +
            FormatW(L", ManagerUnknown 0x%p\n", static_cast<IUnknown*>(m_Manager.Get())),
        L"VideoSampleAllocator::InitializeSampleAllocator: " + This +
            FormatW(L", SampleCount 2, MediaType 0x%p\n", Type.Get()),
        L"VideoSampleAllocator::InitializeSampleAllocatorEx: " + This +
            FormatW(L", InitialSampleCount 2, MaximalSampleCount 2, Attributes 0x%p, MediaType 0x%p\n", nullptr,
                    Type.Get()),
        L"VideoSampleAllocator::UninitializeSampleAllocator: " + This + L"\n",
        L"VideoSampleAllocator::InitializeSampleAllocatorEx: " + This +
            FormatW(L", InitialSampleCount 16, MaximalSampleCount 64, Attributes 0x%p, MediaType 0x%p\n",
                    Attributes.Get(), Type.Get()),
        L"VideoSampleAllocator::SetCallback: " + This + FormatW(L", Notify 0x%p\n", Notify.Get()),
        L"VideoSampleAllocator::GetFreeSampleCount: " + This + L"\n",
        L"VideoSampleAllocator::UninitializeSampleAllocator: " + This + L"\n",
        L"VideoSampleAllocator::~VideoSampleAllocator: " + This + L"\n",
    };
    EXPECT_EQ(Messages(Capture), Expected);
    EXPECT_EQ(Count, 64);
    EXPECT_EQ(This.size(), 23u); // 16 hex digits
}

// Lifetime: once the last reference is gone and the platform has shut down,
// nothing of the allocator is left.
class VideoSampleAllocatorLifetime : public testing::Test
{
protected:
    // Builds a pool of four, hands all four out with a canary each and
    // returns them; the allocator's own reference is already gone.
    void HandOutAll(std::vector<ComPtr<IMFSample>>& Out)
    {
        ASSERT_EQ(MFStartup(MF_VERSION), S_OK);
        m_Device = Make<RecordingDevice>(Graphics::Shared().m_Device.Get());
        UINT Token = 0;
        ComPtr<IMFDXGIDeviceManager> Manager;
        MFCreateDXGIDeviceManager(&Token, Manager.GetAddressOf());
        Manager->ResetDevice(m_Device.Get(), Token);
        auto Allocator = Make<VideoSampleAllocator>();
        m_Address = FormatW(L"this 0x%p\n", Allocator.Get());
        Allocator->SetDirectXManager(Manager.Get());
        ASSERT_EQ(
            Allocator->InitializeSampleAllocatorEx(4, 4, RunAttributes().Get(), VideoType(MFVideoFormat_ARGB32).Get()),
            S_OK);
        Allocator->SetCallback(m_Notify.Get());
        for (int Index = 0; Index < 4; ++Index)
        {
            ComPtr<IMFSample> Sample;
            ASSERT_EQ(Allocator->AllocateSample(Sample.GetAddressOf()), S_OK);
            Sample->SetUnknown(CanaryKey, Make<Canary>(m_Destroyed).Get());
            Out.push_back(Sample);
        }
    }

    bool AllocatorDestroyed(const DebugOutputCapture& Capture) const
    {
        for (const std::wstring& Line : Messages(Capture))
            if (Line == L"VideoSampleAllocator::~VideoSampleAllocator: " + m_Address)
                return true;
        return false;
    }

    ComPtr<RecordingDevice> m_Device;
    ComPtr<NotifyCounter> m_Notify = Make<NotifyCounter>();
    std::atomic<int> m_Destroyed{0};
    std::wstring m_Address;
};

TEST_F(VideoSampleAllocatorLifetime, SamplesBackBeforeShutdownTakeTheAllocatorWithThem)
{
    DebugOutputCapture Capture;
    std::vector<ComPtr<IMFSample>> Out;
    HandOutAll(Out);
    // The samples out keep the allocator alive.
    EXPECT_FALSE(AllocatorDestroyed(Capture));
    Out[3].Reset();
    Out[0].Reset();
    MFShutdown();
    ASSERT_EQ(MFStartup(MF_VERSION), S_OK);
    EXPECT_FALSE(AllocatorDestroyed(Capture));
    EXPECT_EQ(m_Destroyed, 0);
    Out.clear();
    MFShutdown();

    EXPECT_TRUE(AllocatorDestroyed(Capture));
    EXPECT_EQ(m_Notify->m_Count, 4);
    EXPECT_EQ(m_Destroyed, 4);
    EXPECT_EQ(m_Device->ReleaseTextures(), 4u);
}

TEST_F(VideoSampleAllocatorLifetime, ASampleHeldPastShutdownGoesWithTheAllocatorWhenReleased)
{
    DebugOutputCapture Capture;
    std::vector<ComPtr<IMFSample>> Out;
    HandOutAll(Out);
    ComPtr<IMFSample> Late = Out[1];
    Out.clear();
    MFShutdown();
    EXPECT_EQ(m_Notify->m_Count, 3);
    EXPECT_FALSE(AllocatorDestroyed(Capture));

    // With no work queue left to take it home, the release destroys it.
    Late.Reset();
    EXPECT_TRUE(AllocatorDestroyed(Capture));
    EXPECT_EQ(m_Notify->m_Count, 3);
    EXPECT_EQ(m_Destroyed, 4);
    EXPECT_EQ(m_Device->ReleaseTextures(), 4u);
}

// Several threads take samples, hold them for a while, share some and let
// them go, while the work queue brings them back.
TEST(VideoSampleAllocatorConcurrency, ThreadsTakeAndReturnThousandsOfSamplesAndEveryCountAddsUp)
{
    constexpr LONG PoolSize = 8;
    constexpr int ThreadCount = 4;
    constexpr int Rounds = 3;
    constexpr int TakesPerRound = 300;

    ASSERT_EQ(MFStartup(MF_VERSION), S_OK);
    auto Device = Make<RecordingDevice>(Graphics::Shared().m_Device.Get());
    UINT Token = 0;
    ComPtr<IMFDXGIDeviceManager> Manager;
    MFCreateDXGIDeviceManager(&Token, Manager.GetAddressOf());
    Manager->ResetDevice(Device.Get(), Token);
    auto Allocator = Make<VideoSampleAllocator>();
    ComPtr<IMFVideoSampleAllocatorCallback> Callback;
    Allocator.As(&Callback);
    auto Notify = Make<NotifyCounter>();
    Callback->SetCallback(Notify.Get());
    Allocator->SetDirectXManager(Manager.Get());
    ASSERT_EQ(Allocator->InitializeSampleAllocatorEx(PoolSize, PoolSize, RunAttributes().Get(),
                                                     VideoType(MFVideoFormat_ARGB32, 16, 16).Get()),
              S_OK);

    // The samples out with their number of users; a sample handed out while
    // it is out is a fault. A user leaves the book before its release, so a
    // sample is never back in the pool while the book has it.
    std::mutex OutLock;
    std::map<IMFSample*, int> Out;
    std::vector<ComPtr<IMFSample>> SecondUsers;
    std::atomic<int> Taken{0}, HandedOutTwice{0}, Unclean{0}, Failures{0};
    std::vector<std::vector<ComPtr<IMFSample>>> Held(ThreadCount);

    const auto Release = [&](ComPtr<IMFSample> Sample) {
        {
            std::lock_guard Guard(OutLock);
            if (--Out[Sample.Get()] == 0)
                Out.erase(Sample.Get());
        }
        Sample.Reset();
    };
    const auto ReleaseSecondUser = [&] {
        ComPtr<IMFSample> Sample;
        {
            std::lock_guard Guard(OutLock);
            if (SecondUsers.empty())
                return;
            Sample = std::move(SecondUsers.back());
            SecondUsers.pop_back();
        }
        Release(std::move(Sample));
    };
    const auto Work = [&](int Thread, unsigned Seed) {
        std::minstd_rand Random(Seed);
        std::vector<ComPtr<IMFSample>>& Mine = Held[Thread];
        int EmptyInARow = 0;
        for (int Count = 0; Count < TakesPerRound;)
        {
            if (Random() % 2 == 0)
                ReleaseSecondUser();
            ComPtr<IMFSample> Sample;
            const HRESULT Result = Allocator->AllocateSample(Sample.GetAddressOf());
            if (Result == MF_E_SAMPLEALLOCATOR_EMPTY)
            {
                // Samples that never come back would starve every thread.
                if (++EmptyInARow > 1000000)
                {
                    ++Failures;
                    break;
                }
                if (!Mine.empty())
                {
                    Release(std::move(Mine.front()));
                    Mine.erase(Mine.begin());
                }
                ReleaseSecondUser();
                std::this_thread::yield();
                continue;
            }
            if (FAILED(Result))
            {
                ++Failures;
                break;
            }
            EmptyInARow = 0;
            ++Count;
            ++Taken;
            {
                std::lock_guard Guard(OutLock);
                HandedOutTwice += Out.count(Sample.Get()) != 0 ? 1 : 0;
                Out[Sample.Get()] = 1;
            }
            UINT32 Items = 0, Index = ~0u;
            Sample->GetCount(&Items);
            Sample->GetUINT32(__uuidof(SampleIndex), &Index);
            Unclean += Items != 1 || Index >= PoolSize ? 1 : 0;
            Sample->SetUINT32(MFSampleExtension_CleanPoint, Thread);

            switch (Random() % 4)
            {
            case 0: // let go at once
                Release(std::move(Sample));
                break;
            case 1: // a second user, on whichever thread comes next, shares it
            {
                std::lock_guard Guard(OutLock);
                ++Out[Sample.Get()];
                SecondUsers.push_back(Sample);
            }
                Release(std::move(Sample));
                break;
            case 2: // hold for a short while
                std::this_thread::sleep_for(std::chrono::microseconds(Random() % 50));
                Release(std::move(Sample));
                break;
            default: // keep among a few held ones
                Mine.push_back(Sample);
                if (Mine.size() > 2)
                {
                    const size_t Which = Random() % Mine.size();
                    Release(std::move(Mine[Which]));
                    Mine.erase(Mine.begin() + static_cast<ptrdiff_t>(Which));
                }
            }
        }
    };

    for (int Round = 0; Round < Rounds; ++Round)
    {
        std::vector<std::thread> Threads;
        for (int Thread = 0; Thread < ThreadCount; ++Thread)
            Threads.emplace_back(Work, Thread, static_cast<unsigned>(Round * ThreadCount + Thread + 1));
        for (std::thread& Thread : Threads)
            Thread.join();

        // Quiet: every return queued so far has come home. The samples still
        // out and the free ones make the pool, and every return was announced
        // exactly once.
        MFShutdown();
        ASSERT_EQ(MFStartup(MF_VERSION), S_OK);
        LONG Free = -1;
        Callback->GetFreeSampleCount(&Free);
        EXPECT_EQ(Free + static_cast<LONG>(Out.size()), PoolSize) << "round " << Round;
        EXPECT_EQ(Notify->m_Count, Taken - static_cast<int>(Out.size())) << "round " << Round;
    }
    for (auto& Mine : Held)
        for (ComPtr<IMFSample>& Sample : Mine)
            Release(std::move(Sample));
    while (!SecondUsers.empty())
        ReleaseSecondUser();
    MFShutdown();
    ASSERT_EQ(MFStartup(MF_VERSION), S_OK);
    LONG Free = -1;
    Callback->GetFreeSampleCount(&Free);
    EXPECT_EQ(Free, PoolSize);
    EXPECT_TRUE(Out.empty());
    EXPECT_EQ(Notify->m_Count, Taken.load());

    EXPECT_EQ(HandedOutTwice, 0);
    EXPECT_EQ(Unclean, 0);
    EXPECT_EQ(Failures, 0);
    EXPECT_EQ(Taken, Rounds * ThreadCount * TakesPerRound);

    // Nothing is left once the allocator goes: every texture's last
    // reference is the recording device's.
    Allocator.Reset();
    Callback.Reset();
    MFShutdown();
    EXPECT_EQ(Device->ReleaseTextures(), static_cast<size_t>(PoolSize));
}

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <mfapi.h>
#include <wrl/client.h>
#include <wrl/implements.h>

using Microsoft::WRL::ComPtr;

namespace {

ComPtr<IMFMediaBuffer> BufferWith(const char* Text)
{
    ComPtr<IMFMediaBuffer> Buffer;
    EXPECT_EQ(MFCreateMemoryBuffer(static_cast<DWORD>(strlen(Text)), Buffer.GetAddressOf()), S_OK);
    BYTE* Data = nullptr;
    Buffer->Lock(&Data, nullptr, nullptr);
    std::memcpy(Data, Text, strlen(Text));
    Buffer->Unlock();
    Buffer->SetCurrentLength(static_cast<DWORD>(strlen(Text)));
    return Buffer;
}

class CountingCallback final
    : public Microsoft::WRL::RuntimeClass<Microsoft::WRL::RuntimeClassFlags<Microsoft::WRL::ClassicCom>, IMFAsyncCallback>
{
public:
    STDMETHODIMP GetParameters(DWORD*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(IMFAsyncResult* Result) override
    {
        if (m_Caller == std::this_thread::get_id())
            ++m_Inline;
        ComPtr<IUnknown> Object;
        if (SUCCEEDED(Result->GetObject(Object.GetAddressOf())))
            ++m_Calls;
        return S_OK;
    }
    std::thread::id m_Caller = std::this_thread::get_id();
    std::atomic<int> m_Calls{0};
    std::atomic<int> m_Inline{0};
};

} // namespace

TEST(Sample, TimesFlagsAndBuffers)
{
    ComPtr<IMFSample> Sample;
    ASSERT_EQ(MFCreateSample(Sample.GetAddressOf()), S_OK);
    LONGLONG Time = 0;
    EXPECT_EQ(Sample->GetSampleTime(&Time), MF_E_NO_SAMPLE_TIMESTAMP);
    EXPECT_EQ(Sample->GetSampleDuration(&Time), MF_E_NO_SAMPLE_DURATION);
    Sample->SetSampleTime(333666);
    EXPECT_EQ(Sample->GetSampleTime(&Time), S_OK);
    EXPECT_EQ(Time, 333666);
    ComPtr<IMFMediaBuffer> Buffer;
    EXPECT_EQ(Sample->ConvertToContiguousBuffer(Buffer.GetAddressOf()), E_UNEXPECTED);

    // One buffer: the contiguous buffer is that buffer.
    auto First = BufferWith("abc");
    Sample->AddBuffer(First.Get());
    EXPECT_EQ(Sample->ConvertToContiguousBuffer(Buffer.GetAddressOf()), S_OK);
    EXPECT_EQ(Buffer.Get(), First.Get());

    // Two: their bytes, in order, in one buffer that replaces them.
    Sample->AddBuffer(BufferWith("defg").Get());
    DWORD Total = 0;
    Sample->GetTotalLength(&Total);
    EXPECT_EQ(Total, 7u);
    ASSERT_EQ(Sample->ConvertToContiguousBuffer(Buffer.ReleaseAndGetAddressOf()), S_OK);
    BYTE* Data = nullptr;
    DWORD Length = 0;
    Buffer->Lock(&Data, nullptr, &Length);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(Data), Length), "abcdefg");
    Buffer->Unlock();
    DWORD Count = 0;
    Sample->GetBufferCount(&Count);
    EXPECT_EQ(Count, 1u);
    EXPECT_EQ(Sample->RemoveBufferByIndex(1), E_INVALIDARG);

    // Attributes are there too, and the sample answers for them.
    ComPtr<IMFAttributes> Attributes;
    EXPECT_EQ(Sample.As(&Attributes), S_OK);
    ComPtr<IMFMediaType> NotAType;
    EXPECT_EQ(Sample.As(&NotAType), E_NOINTERFACE);
}

TEST(WorkQueueConcurrency, CallbacksRunLaterOnOtherThreadsAndShutdownDrains)
{
    auto Callback = Microsoft::WRL::Make<CountingCallback>();
    ComPtr<IMFAsyncResult> Result;
    ASSERT_EQ(MFCreateAsyncResult(nullptr, Callback.Get(), nullptr, Result.GetAddressOf()), S_OK);
    EXPECT_EQ(MFInvokeCallback(Result.Get()), MF_E_SHUTDOWN); // not started

    ASSERT_EQ(MFStartup(MF_VERSION), S_OK);
    ASSERT_EQ(MFStartup(MF_VERSION), S_OK); // counted
    ComPtr<IMFSample> Object;
    MFCreateSample(Object.GetAddressOf());
    std::vector<std::thread> Threads;
    for (int Thread = 0; Thread < 4; ++Thread)
        Threads.emplace_back([&] {
            for (int Index = 0; Index < 500; ++Index)
            {
                ComPtr<IMFAsyncResult> Each;
                MFCreateAsyncResult(Object.Get(), Callback.Get(), nullptr, Each.GetAddressOf());
                EXPECT_EQ(MFInvokeCallback(Each.Get()), S_OK);
            }
        });
    for (auto& Thread : Threads)
        Thread.join();
    EXPECT_EQ(MFShutdown(), S_OK);
    EXPECT_EQ(MFShutdown(), S_OK); // the last one drains and joins
    EXPECT_EQ(Callback->m_Calls, 2000);
    EXPECT_EQ(Callback->m_Inline, 0);
    EXPECT_EQ(MFShutdown(), MF_E_SHUTDOWN);
}

TEST(DeviceManager, HandlesLockAndGoStaleOnReset)
{
    UINT Token = 0;
    ComPtr<IMFDXGIDeviceManager> Manager;
    ASSERT_EQ(MFCreateDXGIDeviceManager(&Token, Manager.GetAddressOf()), S_OK);
    HANDLE First = nullptr, Second = nullptr;
    EXPECT_EQ(Manager->OpenDeviceHandle(&First), MF_E_DXGI_DEVICE_NOT_INITIALIZED);

    ComPtr<IMFSample> Device; // any object stands for the device here
    MFCreateSample(Device.GetAddressOf());
    EXPECT_EQ(Manager->ResetDevice(Device.Get(), Token + 1), E_INVALIDARG);
    ASSERT_EQ(Manager->ResetDevice(Device.Get(), Token), S_OK);
    ASSERT_EQ(Manager->OpenDeviceHandle(&First), S_OK);
    ASSERT_EQ(Manager->OpenDeviceHandle(&Second), S_OK);

    ComPtr<IMFSample> Service;
    EXPECT_EQ(Manager->GetVideoService(First, IID_PPV_ARGS(Service.GetAddressOf())), S_OK);
    EXPECT_EQ(Service.Get(), Device.Get());

    ComPtr<IMFSample> Locked;
    EXPECT_EQ(Manager->LockDevice(First, IID_PPV_ARGS(Locked.GetAddressOf()), FALSE), S_OK);
    ComPtr<IMFSample> Other;
    EXPECT_EQ(Manager->LockDevice(Second, IID_PPV_ARGS(Other.GetAddressOf()), FALSE), MF_E_DXGI_VIDEO_DEVICE_LOCKED);
    std::thread Waiter([&] { EXPECT_EQ(Manager->LockDevice(Second, IID_PPV_ARGS(Other.GetAddressOf()), TRUE), S_OK); });
    EXPECT_EQ(Manager->UnlockDevice(Second, FALSE), E_INVALIDARG);
    EXPECT_EQ(Manager->UnlockDevice(First, FALSE), S_OK);
    Waiter.join();
    EXPECT_EQ(Manager->UnlockDevice(Second, FALSE), S_OK);

    // A new device makes open handles stale.
    ComPtr<IMFSample> NewDevice;
    MFCreateSample(NewDevice.GetAddressOf());
    ASSERT_EQ(Manager->ResetDevice(NewDevice.Get(), Token), S_OK);
    EXPECT_EQ(Manager->TestDevice(First), MF_E_DXGI_NEW_VIDEO_DEVICE);
    EXPECT_EQ(Manager->CloseDeviceHandle(First), S_OK);
    EXPECT_EQ(Manager->CloseDeviceHandle(First), E_HANDLE);
    EXPECT_EQ(Manager->CloseDeviceHandle(Second), S_OK);
}

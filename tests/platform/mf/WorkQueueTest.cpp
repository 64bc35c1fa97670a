// Work queues: callbacks that run later on threads of their own.

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include <mfapi.h>
#include <wrl/client.h>
#include <wrl/implements.h>

using Microsoft::WRL::ComPtr;

namespace {

class CountingCallback final
    : public Microsoft::WRL::RuntimeClass<Microsoft::WRL::RuntimeClassFlags<Microsoft::WRL::ClassicCom>,
                                          IMFAsyncCallback>
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

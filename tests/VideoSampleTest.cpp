#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "VideoSampleAllocator.h"
#include "support/DebugOutputCapture.h"

using Microsoft::WRL::ComPtr;

namespace {

// Stands for the allocator: takes the returning sample back, as a pool
// slot does, and counts the returns.
class ReturnCounter final
    : public Microsoft::WRL::RuntimeClass<Microsoft::WRL::RuntimeClassFlags<Microsoft::WRL::ClassicCom>,
                                          IMFAsyncCallback>
{
public:
    STDMETHODIMP GetParameters(DWORD*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(IMFAsyncResult* Result) override
    {
        ComPtr<IUnknown> Object;
        Result->GetObject(Object.GetAddressOf());
        m_Pooled.push_back(Object);
        ++m_Returns;
        return S_OK;
    }
    std::atomic<int> m_Returns{0};
    std::vector<ComPtr<IUnknown>> m_Pooled;
};

class VideoSampleTest : public testing::Test
{
protected:
    void SetUp() override { ASSERT_EQ(MFStartup(MF_VERSION), S_OK); }
    void TearDown() override { MFShutdown(); }

    // Waits until the work queue has run everything queued so far.
    static void Drain()
    {
        MFShutdown();
        MFStartup(MF_VERSION);
    }
};

} // namespace

TEST_F(VideoSampleTest, AnswersOnlyItsTwoInterfaces)
{
    ComPtr<VideoSample> Sample = Microsoft::WRL::Make<VideoSample>();
    ComPtr<IUnknown> Unknown;
    ComPtr<IMFSample> AsSample;
    ComPtr<IMFTrackedSample> Tracked;
    ComPtr<IMFAttributes> Attributes;
    EXPECT_EQ(Sample.As(&Unknown), S_OK);
    EXPECT_EQ(Sample.As(&AsSample), S_OK);
    EXPECT_EQ(Sample.As(&Tracked), S_OK);
    EXPECT_EQ(Unknown.Get(), static_cast<IUnknown*>(AsSample.Get()));
    // Every attribute method works through IMFSample, but the interface
    // itself is not offered.
    EXPECT_EQ(Sample.As(&Attributes), E_NOINTERFACE);
    EXPECT_EQ(Attributes.Get(), nullptr);
}

TEST_F(VideoSampleTest, ForwardsAttributesTimesAndBuffers)
{
    auto Sample = Microsoft::WRL::Make<VideoSample>();
    const GUID Key = MFSampleExtension_CleanPoint;
    Sample->SetUINT32(Key, 1);
    Sample->SetSampleTime(100);
    Sample->SetSampleDuration(166833);
    Sample->SetSampleFlags(4);
    UINT32 Value = 0;
    LONGLONG Time = 0, Duration = 0;
    DWORD Flags = 0;
    EXPECT_EQ(Sample->GetUINT32(Key, &Value), S_OK);
    EXPECT_EQ(Value, 1u);
    Sample->GetSampleTime(&Time);
    Sample->GetSampleDuration(&Duration);
    Sample->GetSampleFlags(&Flags);
    EXPECT_EQ(Time, 100);
    EXPECT_EQ(Duration, 166833);
    EXPECT_EQ(Flags, 4u);

    ComPtr<IMFMediaBuffer> Buffer;
    MFCreateMemoryBuffer(16, Buffer.GetAddressOf());
    Buffer->SetCurrentLength(16);
    Sample->AddBuffer(Buffer.Get());
    ComPtr<IMFMediaBuffer> Contiguous;
    EXPECT_EQ(Sample->ConvertToContiguousBuffer(Contiguous.GetAddressOf()), S_OK);
    EXPECT_EQ(Contiguous.Get(), Buffer.Get());

    // Copying the attributes elsewhere copies the wrapped sample's store.
    ComPtr<IMFAttributes> Copy;
    MFCreateAttributes(Copy.GetAddressOf(), 1);
    Sample->CopyAllItems(Copy.Get());
    EXPECT_EQ(Copy->GetUINT32(Key, &Value), S_OK);
}

TEST_F(VideoSampleTest, TheLastUserReleaseQueuesExactlyOneReturn)
{
    auto Counter = Microsoft::WRL::Make<ReturnCounter>();
    IMFSample* Sample = Microsoft::WRL::Make<VideoSample>().Detach();
    ComPtr<IMFTrackedSample> Tracked;
    ASSERT_EQ(Sample->QueryInterface(IID_PPV_ARGS(Tracked.GetAddressOf())), S_OK);
    ASSERT_EQ(Tracked->SetAllocator(Counter.Get(), nullptr), S_OK);
    Tracked.Reset();

    // A second SetAllocator is refused and keeps the first result.
    ComPtr<IMFTrackedSample> Again;
    Sample->QueryInterface(IID_PPV_ARGS(Again.GetAddressOf()));
    {
        DebugOutputCapture Capture;
        EXPECT_EQ(Again->SetAllocator(Counter.Get(), nullptr), MF_E_NOTACCEPTING);
        EXPECT_EQ(Again->SetAllocator(nullptr, nullptr), E_INVALIDARG);
        const auto Lines = Capture.Lines();
        ASSERT_EQ(Lines.size(), 2u);
        EXPECT_NE(Lines[0].find(L"VideoSample::SetAllocator: Throwing an exception, 0xC00D36B5, expression "
                                L"!m_AsyncResult\n"),
                  std::wstring::npos);
        EXPECT_NE(Lines[1].find(L"expression AllocatorAsyncCallback\n"), std::wstring::npos);
    }
    Again.Reset();

    // The user's release leaves only the result's reference: one return,
    // after which the pool's reference is the only one.
    EXPECT_EQ(Sample->Release(), 1u);
    Drain();
    EXPECT_EQ(Counter->m_Returns, 1);
    ASSERT_EQ(Counter->m_Pooled.size(), 1u);

    // Untracked now: reference pairs queue nothing more.
    Sample->AddRef();
    EXPECT_EQ(Sample->Release(), 1u);
    Drain();
    EXPECT_EQ(Counter->m_Returns, 1);

    // Tracked again, it returns again once its user lets go.
    Sample->AddRef();
    Counter->m_Pooled.clear();
    Sample->QueryInterface(IID_PPV_ARGS(Again.GetAddressOf()));
    ASSERT_EQ(Again->SetAllocator(Counter.Get(), nullptr), S_OK);
    Again.Reset();
    EXPECT_EQ(Sample->Release(), 1u);
    Drain();
    EXPECT_EQ(Counter->m_Returns, 2);
    Counter->m_Pooled.clear(); // the last reference: destroyed
}

TEST_F(VideoSampleTest, AnUntrackedSampleIsDestroyedByItsLastRelease)
{
    IMFSample* Sample = Microsoft::WRL::Make<VideoSample>().Detach();
    Sample->AddRef();
    EXPECT_EQ(Sample->Release(), 1u);
    EXPECT_EQ(Sample->Release(), 0u); // leak checking sees the rest
}

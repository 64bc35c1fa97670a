// The encoding run in process, against a sink writer that is slower than the
// renderer. This executable supplies its own MFCreateSinkWriterFromURL; the
// linker takes it in place of the platform's, so Application::Do runs
// unchanged with the real device, sample pool and work queue, and only the
// writer is a stand-in.

#include <atomic>
#include <csignal>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include <mfapi.h>
#include <mfreadwrite.h>

#include "Module/Application.h"
#include "Module/Context.h"
#include "VideoSampleAllocator.h"
#include "support/Deadline.h"
#include "support/DebugOutputCapture.h"

using Microsoft::WRL::ComPtr;

namespace {

// The pool that the run initialises (its maximal sample count).
constexpr size_t PoolSize = 64;

struct WrittenFrame
{
    LONGLONG Time = 0;
    LONGLONG Duration = 0;
    UINT32 Discontinuity = 0;
    UINT32 CleanPoint = 0;
    UINT32 Slot = 0;
    size_t ReleasedBefore = 0; // samples the writer had let go when this one came
};

// How the stand-in behaves, and what it saw; one run at a time.
struct WriterScript
{
    // The writer keeps every sample until it holds this many, then lets
    // them go one at a time, sleeping between them, as a slow encoder would.
    size_t HoldUntil = PoolSize;
    std::chrono::milliseconds PerSample{1};
    // WriteSample fails with this from the given frame on (S_OK: never).
    HRESULT FailWith = S_OK;
    size_t FailAt = 0;
    // The writer sends the process SIGTERM when this frame arrives (0: never).
    size_t SignalAt = 0;
    // The writer lets every sample go as soon as it has it, so that the run
    // never waits for one.
    bool KeepNothing = false;
    // The writer sends the process SIGTERM a while after it came to hold
    // HoldUntil samples, when the run waits for one.
    bool SignalWhenHolding = false;

    // The trace lines of the run, when a test wants them.
    DebugOutputCapture* Trace = nullptr;
    // Started when the writer sends its signal.
    Deadline* Stop = nullptr;

    std::vector<WrittenFrame> Frames;
    size_t MostHeld = 0;
    bool Finalized = false;
    bool PoolGoneAtFinalize = false; // the allocator was uninitialised before
};
WriterScript Script;

// Whether the run has traced a call of Method so far.
bool Traced(const wchar_t* Method)
{
    for (const std::wstring& Line : Script.Trace->Lines())
        if (Line.find(Method) != std::wstring::npos)
            return true;
    return false;
}
class SlowSinkWriter final
    : public Microsoft::WRL::RuntimeClass<Microsoft::WRL::RuntimeClassFlags<Microsoft::WRL::ClassicCom>, IMFSinkWriter>
{
public:
    ~SlowSinkWriter() override { Stop(); }

    STDMETHODIMP AddStream(IMFMediaType*, DWORD* StreamIndex) override
    {
        *StreamIndex = 0;
        return S_OK;
    }
    STDMETHODIMP SetInputMediaType(DWORD, IMFMediaType*, IMFAttributes*) override { return S_OK; }
    STDMETHODIMP BeginWriting() override
    {
        m_Consumer = std::thread([this] { Consume(); });
        return S_OK;
    }
    STDMETHODIMP WriteSample(DWORD, IMFSample* Sample) override
    {
        std::lock_guard Guard(m_Lock);
        if (Script.FailWith != S_OK && Script.Frames.size() >= Script.FailAt)
            return Script.FailWith;
        WrittenFrame Frame;
        Sample->GetSampleTime(&Frame.Time);
        Sample->GetSampleDuration(&Frame.Duration);
        Sample->GetUINT32(MFSampleExtension_Discontinuity, &Frame.Discontinuity);
        Sample->GetUINT32(MFSampleExtension_CleanPoint, &Frame.CleanPoint);
        Sample->GetUINT32(__uuidof(SampleIndex), &Frame.Slot);
        Frame.ReleasedBefore = m_Released;
        Script.Frames.push_back(Frame);
        if (Script.SignalAt != 0 && Script.Frames.size() == Script.SignalAt)
        {
            // Time for the platform's thread to hand the event to the run.
            kill(getpid(), SIGTERM);
            if (Script.Stop)
                Script.Stop->Start();
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        if (Script.KeepNothing)
            return S_OK;
        m_Held.emplace_back(Sample);
        Script.MostHeld = std::max(Script.MostHeld, m_Held.size());
        m_Changed.notify_all();
        return S_OK;
    }
    STDMETHODIMP SendStreamTick(DWORD, LONGLONG) override { return S_OK; }
    STDMETHODIMP PlaceMarker(DWORD, LPVOID) override { return E_NOTIMPL; }
    STDMETHODIMP NotifyEndOfSegment(DWORD) override { return S_OK; }
    STDMETHODIMP Flush(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Finalize() override
    {
        if (Script.Trace)
            Script.PoolGoneAtFinalize = Traced(L"VideoSampleAllocator::UninitializeSampleAllocator:");
        Stop();
        Script.Finalized = true;
        return S_OK;
    }
    STDMETHODIMP GetServiceForStream(DWORD, REFGUID, REFIID, LPVOID*) override { return E_NOTIMPL; }
    STDMETHODIMP GetStatistics(DWORD, MF_SINK_WRITER_STATISTICS*) override { return E_NOTIMPL; }

private:
    void Consume()
    {
        std::unique_lock Guard(m_Lock);
        m_Changed.wait(Guard, [this] { return m_Held.size() >= Script.HoldUntil || m_Stopping; });
        if (Script.SignalWhenHolding)
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            kill(getpid(), SIGTERM);
            if (Script.Stop)
                Script.Stop->Start();
        }
        for (;;)
        {
            // Once stopping, everything held goes back at once.
            m_Changed.wait_for(Guard, Script.PerSample, [this] { return m_Stopping; });
            if (m_Held.empty())
            {
                if (m_Stopping)
                    return;
                continue;
            }
            ComPtr<IMFSample> Sample = std::move(m_Held.front());
            m_Held.pop_front();
            ++m_Released;
            // The last reference goes outside the lock: it sends the sample
            // back to its pool.
            Guard.unlock();
            Sample.Reset();
            Guard.lock();
        }
    }
    void Stop()
    {
        {
            std::lock_guard Guard(m_Lock);
            m_Stopping = true;
        }
        m_Changed.notify_all();
        if (m_Consumer.joinable())
            m_Consumer.join();
    }

    std::mutex m_Lock;
    std::condition_variable m_Changed;
    std::deque<ComPtr<IMFSample>> m_Held;
    size_t m_Released = 0;
    bool m_Stopping = false;
    std::thread m_Consumer;
};

size_t ThreadCount()
{
    size_t Count = 0;
    for ([[maybe_unused]] const auto& Entry : std::filesystem::directory_iterator("/proc/self/task"))
        ++Count;
    return Count;
}

// Runs Application::Do on the arguments; answers what it printed.
std::string RunTool(std::vector<std::wstring> Values, HRESULT* Result = nullptr)
{
    Arguments List;
    List.push_back(L"ostrel");
    for (auto& Value : Values)
        List.push_back(std::move(Value));
    Application Application(List);
    testing::internal::CaptureStdout();
    const HRESULT Done = Application.Do();
    if (Result)
        *Result = Done;
    return testing::internal::GetCapturedStdout();
}

// RunTool for a run that the writer signals: a run that misses the event
// (a missing check) fails within seconds of the signal instead of running on
// or waiting for good.
std::string RunSignalled(std::vector<std::wstring> Values, HRESULT* Result = nullptr)
{
    Deadline Stop(std::chrono::seconds(10), "the run did not stop after SIGTERM");
    Script.Stop = &Stop;
    std::string Output = RunTool(std::move(Values), Result);
    Script.Stop = nullptr;
    return Output;
}

BOOL WINAPI Ignore(DWORD) { return TRUE; }

class EncodingRunConcurrency : public testing::Test
{
protected:
    // Mesa keeps a few threads for the life of the process once a device has
    // been made (its rasteriser's and its shader cache's), and the platform
    // its console control dispatcher once a handler has been registered: a
    // device made and destroyed first, and a handler registered and removed,
    // leave only the run's own threads to count.
    static void SetUpTestSuite()
    {
        SetConsoleCtrlHandler(Ignore, TRUE);
        SetConsoleCtrlHandler(Ignore, FALSE);
        Application::Configuration Configuration;
        Configuration.m_FrameSizeW = Configuration.m_FrameSizeH = 64;
        Application::Context Context(Configuration);
        Context.Render(0.0f);
    }
    void SetUp() override { Script = WriterScript{}; }
    void TearDown() override { Script = WriterScript{}; }
};

} // namespace

HRESULT MFCreateSinkWriterFromURL(LPCWSTR, IMFByteStream*, IMFAttributes*, IMFSinkWriter** SinkWriter)
{
    ComPtr<SlowSinkWriter> Writer = Microsoft::WRL::Make<SlowSinkWriter>();
    *SinkWriter = Writer.Detach();
    return S_OK;
}

TEST_F(EncodingRunConcurrency, WaitsForSamplesFromASlowWriterAndWritesEveryFrame)
{
    const size_t ThreadsBefore = ThreadCount();
    const std::string Output = RunTool({L"-Resolution", L"64", L"64", L"-Duration", L"3", L"out.mp4"});
    EXPECT_EQ(Output.rfind("Elapsed Time: ", 0), 0u) << Output;
    ASSERT_TRUE(Script.Finalized);

    // Every frame reached the writer, in order, stamped as the run stamps it.
    ASSERT_EQ(Script.Frames.size(), 180u);
    LONGLONG End = 0;
    for (size_t Index = 0; Index < Script.Frames.size(); ++Index)
    {
        const WrittenFrame& Frame = Script.Frames[Index];
        EXPECT_EQ(Frame.Time, End) << "frame " << Index;
        End = Frame.Time + Frame.Duration;
        EXPECT_EQ(Frame.Discontinuity, Index == 0 ? 1u : 0u) << "frame " << Index;
        EXPECT_EQ(Frame.CleanPoint, 1u) << "frame " << Index;
        EXPECT_LT(Frame.Slot, PoolSize);
    }
    EXPECT_EQ(End, 30'000'000);

    // The writer held the whole pool at once, and the run went on only as
    // samples came back: it waited for them rather than failing or
    // allocating more.
    EXPECT_EQ(Script.MostHeld, PoolSize);
    for (size_t Index = PoolSize; Index < Script.Frames.size(); ++Index)
        ASSERT_GE(Script.Frames[Index].ReleasedBefore, Index - PoolSize + 1) << "frame " << Index;

    // The writer's, the work queue's and the run's device threads are gone.
    EXPECT_EQ(ThreadCount(), ThreadsBefore);
}

TEST_F(EncodingRunConcurrency, TheWriterIsFinalizedBeforeThePoolIsUninitialized)
{
    // The writer still holds samples when it is finalized; their pool must
    // still be there to take them back.
    Script.HoldUntil = 8;
    DebugOutputCapture Capture;
    Script.Trace = &Capture;
    const std::string Output = RunTool({L"-Resolution", L"64", L"64", L"-Duration", L"1", L"out.mp4"});
    EXPECT_EQ(Output.rfind("Elapsed Time: ", 0), 0u) << Output;
    ASSERT_TRUE(Script.Finalized);
    EXPECT_FALSE(Script.PoolGoneAtFinalize);
    EXPECT_TRUE(Traced(L"VideoSampleAllocator::UninitializeSampleAllocator:"));
}

TEST_F(EncodingRunConcurrency, AWriterFailureEndsTheRunWithItsLineAndReturnsTheSamples)
{
    Script.HoldUntil = 8;
    Script.FailWith = static_cast<HRESULT>(0x80070070); // disk full
    Script.FailAt = 100;
    const size_t ThreadsBefore = ThreadCount();
    const std::string Output = RunTool({L"-Resolution", L"64", L"64", L"-Duration", L"3", L"out.mp4"});
    EXPECT_EQ(Output, "Exception: 0x80070070\n");
    EXPECT_FALSE(Script.Finalized);
    EXPECT_EQ(Script.Frames.size(), 100u);
    EXPECT_EQ(ThreadCount(), ThreadsBefore);
}

TEST_F(EncodingRunConcurrency, ASignalStopsTheRunAtTheNextFrameWithoutFinalizing)
{
    Script.KeepNothing = true;
    Script.SignalAt = 50;
    const size_t ThreadsBefore = ThreadCount();
    HRESULT Result = S_OK;
    const std::string Output = RunSignalled({L"-Resolution", L"64", L"64", L"-Duration", L"60", L"out.mp4"}, &Result);
    EXPECT_EQ(Result, HRESULT_FROM_WIN32(ERROR_CANCELLED));
    EXPECT_EQ(Output, "Exception: 0x800704C7\n");
    EXPECT_FALSE(Script.Finalized);
    // The run sees the event at its next frame, not only when it waits for
    // a sample.
    EXPECT_EQ(Script.Frames.size(), 50u);
    EXPECT_EQ(ThreadCount(), ThreadsBefore);
}

TEST_F(EncodingRunConcurrency, ASignalReachesARunThatWaitsForASample)
{
    // The writer holds the whole pool and would give nothing back for an hour.
    Script.HoldUntil = PoolSize;
    Script.PerSample = std::chrono::hours(1);
    Script.SignalWhenHolding = true;
    const size_t ThreadsBefore = ThreadCount();
    const std::string Output = RunSignalled({L"-Resolution", L"64", L"64", L"-Duration", L"60", L"out.mp4"});
    EXPECT_EQ(Output, "Exception: 0x800704C7\n");
    EXPECT_FALSE(Script.Finalized);
    EXPECT_EQ(Script.Frames.size(), PoolSize);
    EXPECT_EQ(ThreadCount(), ThreadsBefore);
}

TEST_F(EncodingRunConcurrency, ASignalDuringTheLastFrameStopsTheRunBeforeFinalize)
{
    Script.KeepNothing = true;
    Script.SignalAt = 60;
    const std::string Output = RunSignalled({L"-Resolution", L"64", L"64", L"-Duration", L"1", L"out.mp4"});
    EXPECT_EQ(Output, "Exception: 0x800704C7\n");
    EXPECT_EQ(Script.Frames.size(), 60u);
    EXPECT_FALSE(Script.Finalized);
}

TEST_F(EncodingRunConcurrency, ASignalledRunLeavesNothingBehindThatStopsTheNext)
{
    // In one process, as a test binary runs its tests: the event of one run
    // is that run's alone.
    Script.KeepNothing = true;
    Script.SignalAt = 10;
    EXPECT_EQ(RunSignalled({L"-Resolution", L"64", L"64", L"-Duration", L"60", L"out.mp4"}), "Exception: 0x800704C7\n");

    Script = WriterScript{};
    Script.KeepNothing = true;
    const std::string Output = RunTool({L"-Resolution", L"64", L"64", L"-Duration", L"1", L"out.mp4"});
    EXPECT_EQ(Output.rfind("Elapsed Time: ", 0), 0u) << "the run after a signalled one: " << Output;
    EXPECT_EQ(Script.Frames.size(), 60u);
    EXPECT_TRUE(Script.Finalized);

    // And the next event is a first one again, not a second that ends the
    // process at once.
    Script = WriterScript{};
    Script.KeepNothing = true;
    Script.SignalAt = 10;
    EXPECT_EQ(RunSignalled({L"-Resolution", L"64", L"64", L"-Duration", L"60", L"out.mp4"}), "Exception: 0x800704C7\n");
    EXPECT_EQ(Script.Frames.size(), 10u);
}

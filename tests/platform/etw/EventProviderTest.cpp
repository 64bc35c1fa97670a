#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "etw/EventProviderInternal.h"
#include "TraceLoggingBlobs.h"

using namespace Platform::Etw;
using namespace Platform::Etw::Test;

namespace {
constexpr GUID ProviderId = {0xb27b8c26, 0x18db, 0x5314, {0x91, 0x21, 0x63, 0x05, 0x84, 0xfb, 0xc4, 0x3c}};
constexpr EVENT_DESCRIPTOR MessageDescriptor = {0, 0, 11, 5, 0, 0, 0};

// Stands in for libostrel-lttng.so: a session listens while Enabled is set.
std::atomic<bool> Enabled{false};
std::vector<std::string> Written; // "file|line|function|text"

const OstrelLttngProviderApi FakeLttng = {OSTREL_LTTNG_PROVIDER_API_VERSION, [] { return int(Enabled.load()); },
                                          [](const char* File, uint32_t Line, const char* Function, const char* Text) {
                                              Written.push_back(std::string(File) + "|" + std::to_string(Line) + "|" +
                                                                Function + "|" + Text);
                                          }};

// A registration's enable callbacks as "code level", the first one's thread.
struct CallbackLog
{
    std::mutex Mutex;
    std::condition_variable Changed;
    std::vector<std::string> Calls;
    std::thread::id FirstThread;

    static void Callback(LPCGUID SourceId, ULONG Code, UCHAR Level, ULONGLONG MatchAny, ULONGLONG MatchAll,
                         PEVENT_FILTER_DESCRIPTOR Filter, PVOID Context)
    {
        EXPECT_TRUE(*SourceId == ProviderId && MatchAny == 0 && MatchAll == 0 && Filter == nullptr);
        auto* Log = static_cast<CallbackLog*>(Context);
        std::lock_guard Lock(Log->Mutex);
        if (Log->Calls.empty())
            Log->FirstThread = std::this_thread::get_id();
        Log->Calls.push_back(std::to_string(Code) + " " + std::to_string(Level));
        Log->Changed.notify_all();
    }
};

class EventProvider : public testing::Test
{
protected:
    void SetUp() override
    {
        OverrideLttngProviderForTesting(&FakeLttng);
        Enabled = false;
        Written.clear();
    }
    void TearDown() override { OverrideLttngProviderForTesting(nullptr); }

    static REGHANDLE Register(PENABLECALLBACK Callback = nullptr, void* Context = nullptr)
    {
        REGHANDLE Handle = 0;
        EXPECT_EQ(EventRegister(&ProviderId, Callback, Context, &Handle), ERROR_SUCCESS);
        EXPECT_NE(Handle, 0u);
        return Handle;
    }
    static ULONG Write(REGHANDLE Handle, const EventData& Event)
    {
        auto Descriptors = Event.Descriptors();
        return EventWriteTransfer(Handle, &MessageDescriptor, nullptr, nullptr, ULONG(Descriptors.size()),
                                  Descriptors.data());
    }
};

// The cases where callbacks run on the watcher's thread.
class EventProviderConcurrency : public EventProvider
{};
} // namespace

TEST_F(EventProvider, RegistrationAndHandles)
{
    REGHANDLE Handle = 42;
    EXPECT_EQ(EventRegister(nullptr, nullptr, nullptr, &Handle), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Handle, 0u);
    EXPECT_EQ(EventRegister(&ProviderId, nullptr, nullptr, nullptr), ERROR_INVALID_PARAMETER);

    const OstrelLttngProviderApi* Api = &FakeLttng;
    EXPECT_EQ(LoadLttngProvider("/nonexistent/libostrel-lttng.so", Api), ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(Api, nullptr);
    EXPECT_EQ(LoadLttngProvider("libc.so.6", Api), ERROR_PROC_NOT_FOUND);

    std::vector<REGHANDLE> Handles;
    while (EventRegister(&ProviderId, nullptr, nullptr, &Handle) == ERROR_SUCCESS)
        Handles.push_back(Handle);
    EXPECT_EQ(EventRegister(&ProviderId, nullptr, nullptr, &Handle), ERROR_TOO_MANY_OPEN_FILES);
    EXPECT_EQ(Handle, 0u);
    ASSERT_GE(Handles.size(), 2u);
    const REGHANDLE Old = Handles[0];
    EXPECT_EQ(EventUnregister(Old), ERROR_SUCCESS);
    EXPECT_EQ(EventUnregister(Old), ERROR_INVALID_HANDLE);
    // The freed slot's next registration does not revive the old handle.
    Handles[0] = Register();
    for (REGHANDLE Unknown : {Old, REGHANDLE(0), REGHANDLE(1), ~REGHANDLE(0)})
    {
        EXPECT_EQ(EventWriteTransfer(Unknown, &MessageDescriptor, nullptr, nullptr, 0, nullptr), ERROR_INVALID_HANDLE);
        EXPECT_EQ(EventSetInformation(Unknown, EventProviderSetTraits, nullptr, 0), ERROR_INVALID_HANDLE);
        EXPECT_EQ(EventUnregister(Unknown), ERROR_INVALID_HANDLE);
    }
    for (REGHANDLE Registered : Handles)
        EXPECT_EQ(EventUnregister(Registered), ERROR_SUCCESS);
}

TEST_F(EventProviderConcurrency, CallbackFollowsTheSession)
{
    Enabled = true;
    CallbackLog Log;
    const REGHANDLE Handle = Register(CallbackLog::Callback, &Log);
    {
        // Already listening: reported before EventRegister returned.
        std::lock_guard Lock(Log.Mutex);
        EXPECT_EQ(Log.Calls, std::vector<std::string>{"1 5"});
        EXPECT_EQ(Log.FirstThread, std::this_thread::get_id());
    }
    for (bool State : {false, true})
    {
        Enabled = State;
        std::unique_lock Lock(Log.Mutex); // a hang is the failure
        Log.Changed.wait(Lock, [&] { return Log.Calls.back() == (State ? "1 5" : "0 0"); });
    }
    EXPECT_EQ(EventUnregister(Handle), ERROR_SUCCESS);
    EXPECT_EQ(Log.Calls.size(), 3u);
}

TEST_F(EventProviderConcurrency, CallbackMayUnregisterItsProvider)
{
    struct Self
    {
        std::atomic<REGHANDLE> Handle{0};
        std::promise<ULONG> Result;
    } Context;
    auto Callback = [](LPCGUID, ULONG, UCHAR, ULONGLONG, ULONGLONG, PEVENT_FILTER_DESCRIPTOR, PVOID Pointer) {
        auto* Registration = static_cast<Self*>(Pointer);
        Registration->Result.set_value(EventUnregister(Registration->Handle));
    };
    Context.Handle = Register(Callback, &Context);
    Enabled = true;
    EXPECT_EQ(Context.Result.get_future().get(), ERROR_SUCCESS);
    EXPECT_EQ(EventUnregister(Context.Handle), ERROR_INVALID_HANDLE);
}

TEST_F(EventProviderConcurrency, UnregisterRacesNeitherCallbacksNorWrites)
{
    // Callbacks count in plain memory that is reused once EventUnregister
    // returns, while another thread writes with whatever handle is current:
    // ThreadSanitizer reports any callback that outlives its registration.
    const EventData Event = Message("a.cpp", 1, "f", L"t");
    std::atomic<REGHANDLE> Current{0};
    std::atomic<bool> Running{true};
    std::thread Writer([&] {
        while (Running)
        {
            const ULONG Result = Write(Current, Event);
            EXPECT_TRUE(Result == ERROR_SUCCESS || Result == ERROR_INVALID_HANDLE) << Result;
            Enabled = !Enabled;
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
    });
    for (int Round = 0; Round < 30; ++Round)
    {
        int Calls = 0;
        auto Callback = [](LPCGUID, ULONG, UCHAR, ULONGLONG, ULONGLONG, PEVENT_FILTER_DESCRIPTOR, PVOID Count) {
            ++*static_cast<int*>(Count);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            ++*static_cast<int*>(Count);
        };
        Current = Register(Callback, &Calls);
        std::this_thread::sleep_for(std::chrono::milliseconds(Round % 3 * 10));
        ASSERT_EQ(EventUnregister(Current), ERROR_SUCCESS);
        EXPECT_EQ(Calls % 2, 0); // no callback half done
        Calls = -1;
    }
    Running = false;
    Writer.join();
}

TEST_F(EventProvider, SetInformationChecksTheTraits)
{
    const REGHANDLE Handle = Register();
    Blob Traits = Sized({'O', 's', 't', 0, 4, 0, 1, 0x2A}); // name, then one 4-byte chunk
    EXPECT_EQ(EventSetInformation(Handle, EventProviderSetTraits, Traits.data(), ULONG(Traits.size())), ERROR_SUCCESS);
    EXPECT_EQ(EventSetInformation(Handle, EventProviderSetTraits, Traits.data(), ULONG(Traits.size() - 1)),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(EventSetInformation(Handle, EventProviderSetTraits, nullptr, 0), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(EventSetInformation(Handle, EventProviderUseDescriptorType, Traits.data(), 1), ERROR_SUCCESS);
    EXPECT_EQ(EventSetInformation(Handle, EventProviderBinaryTrackInfo, Traits.data(), 1), ERROR_NOT_SUPPORTED);
    EXPECT_EQ(EventUnregister(Handle), ERROR_SUCCESS);
}

TEST_F(EventProvider, WritesTheMessageWhileASessionListens)
{
    const REGHANDLE Handle = Register();
    const EventData Event = Message("Application.cpp", 84, "Application::Application", L"Throwing \u00e9\n");
    EventData Broken = Event;
    Broken.Values.pop_back();

    // Nobody listens: nothing is decoded or written.
    EXPECT_EQ(Write(Handle, Event), ERROR_SUCCESS);
    EXPECT_EQ(Write(Handle, Broken), ERROR_SUCCESS);
    EXPECT_TRUE(Written.empty());

    Enabled = true;
    EXPECT_EQ(Write(Handle, Event), ERROR_SUCCESS);
    EXPECT_EQ(Write(Handle, Broken), ERROR_INVALID_PARAMETER);
    auto Descriptors = Event.Descriptors();
    EXPECT_EQ(EventWriteTransfer(Handle, nullptr, nullptr, nullptr, 6, Descriptors.data()), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(EventWriteTransfer(Handle, &MessageDescriptor, nullptr, nullptr, 6, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(EventWriteTransfer(Handle, &MessageDescriptor, nullptr, nullptr, 129, Descriptors.data()),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Written, std::vector<std::string>{"Application.cpp|84|Application::Application|Throwing \xC3\xA9\n"});
    EXPECT_EQ(EventUnregister(Handle), ERROR_SUCCESS);
}

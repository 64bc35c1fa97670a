#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "etw/EnableStateWatcher.h"

using Platform::Etw::EnableStateWatcher;
using namespace std::chrono_literals;

// The enable callbacks themselves are tested through EventRegister; this is
// about stopping.
TEST(EnableStateWatcherConcurrency, StopWaitsForTheNotificationInFlight)
{
    // The state flips at every poll; each notification writes plain memory
    // after a pause. Stop must wait for it: else the count below is short,
    // and ThreadSanitizer sees the late write race with the test's.
    int Count = 0;
    bool Flip = false;
    std::promise<void> Enough;
    EnableStateWatcher Watcher([&] { return Flip = !Flip; },
                               [&](bool) {
                                   if (Count == 3)
                                       Enough.set_value();
                                   std::this_thread::sleep_for(1ms);
                                   ++Count;
                               },
                               1ms);
    Watcher.Start();
    Enough.get_future().wait();
    Watcher.Stop();
    Watcher.Stop();
    EXPECT_GE(Count, 4);
    Count = -1;
}

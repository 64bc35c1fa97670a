// Turns a pollable "is anyone listening" state into enable and disable
// notifications, as an event tracing system with callbacks would send them.
#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace Platform::Etw {
class EnableStateWatcher
{
public:
    using Probe = std::function<bool()>;
    using Notify = std::function<void(bool Enabled)>;

    EnableStateWatcher(Probe IsEnabled, Notify OnChange, std::chrono::milliseconds Interval);
    ~EnableStateWatcher();
    EnableStateWatcher(const EnableStateWatcher&) = delete;
    EnableStateWatcher& operator=(const EnableStateWatcher&) = delete;

    // Polls once on the calling thread, notifying it if the state is already
    // enabled, then keeps polling on a thread of its own (all signals
    // blocked) and notifies each change seen. Called at most once. Returns
    // false, after notifying a disable if it notified an enable, when the
    // thread cannot be started.
    bool Start();

    // Stops polling. Once it returns from any other thread, no notification
    // runs or will run. Called from within a notification, it returns at
    // once and the watcher's thread ends when that notification returns.
    void Stop();

private:
    struct State;
    static void Run(std::shared_ptr<State> Shared, bool LastEnabled);

    // Shared with the thread, so that a notification that stops and
    // destroys its own watcher leaves the thread valid state to finish on.
    std::shared_ptr<State> m_State;
};
} // namespace Platform::Etw

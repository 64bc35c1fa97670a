#include "EnableStateWatcher.h"

#include <condition_variable>
#include <csignal>
#include <mutex>
#include <thread>

#include <pthread.h>

namespace ostrel::etw
{
struct EnableStateWatcher::State
{
    Probe IsEnabled;
    Notify OnChange;
    std::chrono::milliseconds Interval;

    std::mutex Mutex;
    std::condition_variable Wake;
    bool Stopping = false;
    std::thread Thread;
};

EnableStateWatcher::EnableStateWatcher(Probe IsEnabled, Notify OnChange, std::chrono::milliseconds Interval)
    : m_State(std::make_shared<State>())
{
    m_State->IsEnabled = std::move(IsEnabled);
    m_State->OnChange = std::move(OnChange);
    m_State->Interval = Interval;
}

EnableStateWatcher::~EnableStateWatcher() { Stop(); }

void EnableStateWatcher::Start()
{
    const bool Enabled = m_State->IsEnabled();
    if (Enabled)
        m_State->OnChange(true);

    std::lock_guard Lock(m_State->Mutex);
    if (m_State->Stopping)
        return;
    // The thread starts with every signal blocked, so that signals meant for
    // the process are handled by the tool's own threads.
    sigset_t All, Previous;
    sigfillset(&All);
    pthread_sigmask(SIG_SETMASK, &All, &Previous);
    m_State->Thread = std::thread(Run, m_State, Enabled);
    pthread_sigmask(SIG_SETMASK, &Previous, nullptr);
}

void EnableStateWatcher::Stop()
{
    std::thread Thread;
    {
        std::lock_guard Lock(m_State->Mutex);
        m_State->Stopping = true;
        Thread = std::move(m_State->Thread);
    }
    m_State->Wake.notify_all();
    if (!Thread.joinable())
        return;
    if (Thread.get_id() == std::this_thread::get_id())
        Thread.detach(); // stopped from a notification; Run sees Stopping and ends
    else
        Thread.join();
}

void EnableStateWatcher::Run(std::shared_ptr<State> Shared, bool LastEnabled)
{
    std::unique_lock Lock(Shared->Mutex);
    for (;;)
    {
        if (Shared->Wake.wait_for(Lock, Shared->Interval, [&] { return Shared->Stopping; }))
            return;
        Lock.unlock();
        const bool Enabled = Shared->IsEnabled();
        if (Enabled != LastEnabled)
        {
            LastEnabled = Enabled;
            Shared->OnChange(Enabled);
        }
        Lock.lock();
    }
}
} // namespace ostrel::etw

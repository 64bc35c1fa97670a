#include "EnableStateWatcher.h"

#include <condition_variable>
#include <csignal>
#include <mutex>
#include <system_error>
#include <thread>

#include <pthread.h>

namespace Platform::Etw {
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

bool EnableStateWatcher::Start()
{
    const bool Enabled = m_State->IsEnabled();
    if (Enabled)
        m_State->OnChange(true);

    bool Started = false;
    {
        std::lock_guard Lock(m_State->Mutex);
        if (m_State->Stopping)
            return true;
        // The thread starts with every signal blocked, so that signals meant
        // for the process are handled by the tool's own threads.
        sigset_t All, Previous;
        sigfillset(&All);
        pthread_sigmask(SIG_SETMASK, &All, &Previous);
        try
        {
            m_State->Thread = std::thread(Run, m_State, Enabled);
            Started = true;
        }
        catch (const std::system_error&)
        {
            m_State->Stopping = true;
        }
        pthread_sigmask(SIG_SETMASK, &Previous, nullptr);
    }
    // Without a thread nothing would report the session's end.
    if (!Started && Enabled)
        m_State->OnChange(false);
    return Started;
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
    pthread_setname_np(pthread_self(), "ostrel-etw");
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
} // namespace Platform::Etw

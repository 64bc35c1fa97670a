// A bound on how long something may still take once it should end: a run
// that misses a stop would otherwise hang until the test runner's timeout.
// Past the bound the process ends at once, failing, with a line that says
// what did not happen.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

class Deadline
{
public:
    Deadline(std::chrono::seconds Bound, std::string What) : m_Bound(Bound), m_What(std::move(What))
    {
        m_Watcher = std::thread([this] { Watch(); });
    }
    ~Deadline()
    {
        {
            std::lock_guard Guard(m_Lock);
            m_Done = true;
        }
        m_Changed.notify_all();
        m_Watcher.join();
    }
    Deadline(const Deadline&) = delete;
    Deadline& operator=(const Deadline&) = delete;

    // The bound counts from now (from the first call only). Safe in any
    // thread, not in a signal handler.
    void Start()
    {
        {
            std::lock_guard Guard(m_Lock);
            m_Started = true;
        }
        m_Changed.notify_all();
    }

private:
    void Watch()
    {
        std::unique_lock Guard(m_Lock);
        m_Changed.wait(Guard, [this] { return m_Started || m_Done; });
        if (m_Changed.wait_for(Guard, m_Bound, [this] { return m_Done; }))
            return;
        std::fprintf(stderr, "FAIL: %s within %lld s; ending the test process\n", m_What.c_str(),
                     static_cast<long long>(m_Bound.count()));
        std::fflush(nullptr);
        std::_Exit(1);
    }

    const std::chrono::seconds m_Bound;
    const std::string m_What;
    std::mutex m_Lock;
    std::condition_variable m_Changed;
    bool m_Started = false;
    bool m_Done = false;
    std::thread m_Watcher;
};

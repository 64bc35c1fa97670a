// The platform's work queue: a few threads that run queued callbacks.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include <wrl/client.h>
#include <mfobjects.h>

namespace Platform {

class WorkQueue
{
public:
    explicit WorkQueue(size_t ThreadCount);
    // Runs what is queued, then stops and joins the threads.
    ~WorkQueue();
    WorkQueue(const WorkQueue&) = delete;
    WorkQueue& operator=(const WorkQueue&) = delete;

    // Queues Callback->Invoke(Result); both are held until it has returned.
    HRESULT Put(IMFAsyncCallback* Callback, IMFAsyncResult* Result);

private:
    struct Item
    {
        Microsoft::WRL::ComPtr<IMFAsyncCallback> Callback;
        Microsoft::WRL::ComPtr<IMFAsyncResult> Result;
    };

    void Run();

    std::mutex m_Lock;
    std::condition_variable m_Ready;
    std::deque<Item> m_Items;
    bool m_Stopping = false;
    std::vector<std::thread> m_Threads;
};

} // namespace Platform

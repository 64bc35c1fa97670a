#include "WorkQueue.h"

#include <memory>

#include <wrl/implements.h>
#include <mfapi.h>

#include "Com/Implementation.h"

namespace Platform {

WorkQueue::WorkQueue(size_t ThreadCount)
{
    m_Threads.reserve(ThreadCount);
    for (size_t Index = 0; Index < ThreadCount; ++Index)
        m_Threads.emplace_back(&WorkQueue::Run, this);
}

WorkQueue::~WorkQueue()
{
    {
        std::lock_guard Guard(m_Lock);
        m_Stopping = true;
    }
    m_Ready.notify_all();
    for (std::thread& Thread : m_Threads)
        Thread.join();
}

HRESULT WorkQueue::Put(IMFAsyncCallback* Callback, IMFAsyncResult* Result)
{
    {
        std::lock_guard Guard(m_Lock);
        if (m_Stopping)
            return MF_E_SHUTDOWN;
        try
        {
            m_Items.push_back({Callback, Result});
        }
        catch (const std::bad_alloc&)
        {
            return E_OUTOFMEMORY;
        }
    }
    m_Ready.notify_one();
    return S_OK;
}

void WorkQueue::Run()
{
    for (;;)
    {
        Item Next;
        {
            std::unique_lock Guard(m_Lock);
            m_Ready.wait(Guard, [this] { return m_Stopping || !m_Items.empty(); });
            if (m_Items.empty())
                return;
            Next = std::move(m_Items.front());
            m_Items.pop_front();
        }
        Next.Callback->Invoke(Next.Result.Get());
    }
}

namespace {

using namespace Microsoft::WRL;

class AsyncResult final : public RuntimeClass<RuntimeClassFlags<ClassicCom>, IMFAsyncResult>
{
public:
    AsyncResult(IUnknown* Object, IMFAsyncCallback* Callback, IUnknown* State)
        : m_Object(Object), m_Callback(Callback), m_State(State)
    {}

    STDMETHODIMP GetState(IUnknown** State) override
    {
        if (!State)
            return E_POINTER;
        *State = nullptr;
        if (!m_State)
            return E_POINTER;
        return m_State.CopyTo(State);
    }
    STDMETHODIMP GetStatus() override { return m_Status.load(); }
    STDMETHODIMP SetStatus(HRESULT Status) override
    {
        m_Status = Status;
        return S_OK;
    }
    STDMETHODIMP GetObject(IUnknown** Object) override
    {
        if (!Object)
            return E_POINTER;
        *Object = nullptr;
        if (!m_Object)
            return E_POINTER;
        return m_Object.CopyTo(Object);
    }
    STDMETHODIMP_(IUnknown*) GetStateNoAddRef() override { return m_State.Get(); }

    IMFAsyncCallback* Callback() const { return m_Callback.Get(); }

private:
    const ComPtr<IUnknown> m_Object;
    const ComPtr<IMFAsyncCallback> m_Callback;
    const ComPtr<IUnknown> m_State;
    std::atomic<HRESULT> m_Status{S_OK};
};

// The platform's lifetime: counted startups and the work queue they share.
struct Platform
{
    std::mutex Lock;
    unsigned StartupCount = 0;
    std::unique_ptr<WorkQueue> Queue;
};

Platform& Instance()
{
    static Platform Value;
    return Value;
}

constexpr size_t WorkQueueThreadCount = 2;

} // namespace

} // namespace Platform

HRESULT MFStartup(ULONG Version, DWORD)
{
    if (Version != MF_VERSION)
        return E_INVALIDARG;
    auto& State = Platform::Instance();
    std::lock_guard Guard(State.Lock);
    if (State.StartupCount == 0)
    {
        try
        {
            State.Queue = std::make_unique<Platform::WorkQueue>(Platform::WorkQueueThreadCount);
        }
        catch (const std::exception&)
        {
            return E_OUTOFMEMORY;
        }
    }
    ++State.StartupCount;
    return S_OK;
}

HRESULT MFShutdown()
{
    std::unique_ptr<Platform::WorkQueue> Queue;
    {
        auto& State = Platform::Instance();
        std::lock_guard Guard(State.Lock);
        if (State.StartupCount == 0)
            return MF_E_SHUTDOWN;
        if (--State.StartupCount == 0)
            Queue = std::move(State.Queue);
    }
    // The queue runs what is queued and joins its threads here, outside the
    // lock: a running callback that queues more work is told MF_E_SHUTDOWN.
    Queue.reset();
    return S_OK;
}

HRESULT MFCreateAsyncResult(IUnknown* punkObject, IMFAsyncCallback* pCallback, IUnknown* punkState,
                            IMFAsyncResult** ppAsyncResult)
{
    if (!ppAsyncResult)
        return E_POINTER;
    *ppAsyncResult = nullptr;
    auto Result = Microsoft::WRL::Make<Platform::AsyncResult>(punkObject, pCallback, punkState);
    if (!Result)
        return E_OUTOFMEMORY;
    *ppAsyncResult = Result.Detach();
    return S_OK;
}

HRESULT MFInvokeCallback(IMFAsyncResult* pAsyncResult)
{
    auto* Result = Platform::ImplementationOf<Platform::AsyncResult>(pAsyncResult);
    if (!Result || !Result->Callback())
        return E_INVALIDARG;
    auto& State = Platform::Instance();
    std::lock_guard Guard(State.Lock);
    if (!State.Queue)
        return MF_E_SHUTDOWN;
    return State.Queue->Put(Result->Callback(), pAsyncResult);
}

LONGLONG MFllMulDiv(LONGLONG a, LONGLONG b, LONGLONG c, LONGLONG d)
{
    const __int128 Value = static_cast<__int128>(a) * b + d;
    if (c == 0)
        return Value >= 0 ? INT64_MAX : INT64_MIN;
    const __int128 Quotient = Value / c;
    if (Quotient > INT64_MAX)
        return INT64_MAX;
    if (Quotient < INT64_MIN)
        return INT64_MIN;
    return static_cast<LONGLONG>(Quotient);
}

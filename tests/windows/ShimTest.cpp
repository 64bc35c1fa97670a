// The Windows build's shims (windows/include, windows/*.cpp) in use by the
// tool's own classes, run under Wine: QueryInterface over listed and chained
// interfaces, reference counts and Make of RuntimeClass, the SRW lock
// holders, C++ throws through the throw hook with no debugger attached, and
// a debugger that ends without killing the process it debugged.
// Prints one line per failed expectation; the exit status is their count.

#include <windows.h>

#include <shellapi.h>

#include <atomic>
#include <cstdio>
#include <exception>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

#include "VideoSampleAllocator.h"
#include "diagnostics/ComException.h"

using Microsoft::WRL::ComPtr;

namespace {

int Failures = 0;

void Expect(bool Condition, const char* Text, int Line)
{
    if (Condition)
        return;
    std::printf("FAIL: ShimTest.cpp(%d): %s\n", Line, Text);
    ++Failures;
}

#define EXPECT(Condition) Expect(Condition, #Condition, __LINE__)

// The identity of a COM object: what it answers for IUnknown.
IUnknown* Identity(IUnknown* Object)
{
    ComPtr<IUnknown> Unknown;
    return SUCCEEDED(Object->QueryInterface(IID_PPV_ARGS(Unknown.GetAddressOf()))) ? Unknown.Get() : nullptr;
}

template <typename Interface>
ComPtr<Interface> Query(IUnknown* Object, HRESULT& Result)
{
    ComPtr<Interface> Found;
    Result = Object->QueryInterface(IID_PPV_ARGS(Found.GetAddressOf()));
    return Found;
}

void AllocatorInterfaces()
{
    ComPtr<VideoSampleAllocator> Allocator = Microsoft::WRL::Make<VideoSampleAllocator>();
    EXPECT(Allocator);
    IUnknown* Self = Identity(static_cast<IMFAsyncCallback*>(Allocator.Get()));
    EXPECT(Self != nullptr);
    HRESULT Result;
    // Every interface listed, the chained base too, with one identity.
    auto Ex = Query<IMFVideoSampleAllocatorEx>(Self, Result);
    EXPECT(Result == S_OK && Ex && Identity(Ex.Get()) == Self);
    auto Base = Query<IMFVideoSampleAllocator>(Self, Result);
    EXPECT(Result == S_OK && Base && Identity(Base.Get()) == Self);
    EXPECT(Base.Get() == static_cast<IMFVideoSampleAllocator*>(Ex.Get()));
    auto Callback = Query<IMFVideoSampleAllocatorCallback>(Self, Result);
    EXPECT(Result == S_OK && Callback && Identity(Callback.Get()) == Self);
    auto Async = Query<IMFAsyncCallback>(Self, Result);
    EXPECT(Result == S_OK && Async && Identity(Async.Get()) == Self);
    // Nothing else, and no out pointer is no answer.
    auto Sample = Query<IMFSample>(Self, Result);
    EXPECT(Result == E_NOINTERFACE && !Sample);
    EXPECT(Self->QueryInterface(__uuidof(IUnknown), nullptr) == E_POINTER);

    // Held by Allocator and the four interface pointers above.
    EXPECT(Self->AddRef() == 6);
    EXPECT(Self->Release() == 5);
}

void SampleInterfaces()
{
    ComPtr<VideoSample> Sample = Microsoft::WRL::Make<VideoSample>();
    EXPECT(Sample);
    IUnknown* Self = Identity(static_cast<IMFSample*>(Sample.Get()));
    HRESULT Result;
    auto Tracked = Query<IMFTrackedSample>(Self, Result);
    EXPECT(Result == S_OK && Tracked && Identity(Tracked.Get()) == Self);
    auto Plain = Query<IMFSample>(Self, Result);
    EXPECT(Result == S_OK && Plain && Identity(Plain.Get()) == Self);
    // The sample's own Release, over RuntimeClass's count.
    EXPECT(Self->AddRef() == 4);
    EXPECT(Self->Release() == 3);
}

// Counts its destructions; its constructor fails on request.
class Probe final : public Microsoft::WRL::RuntimeClass<Microsoft::WRL::RuntimeClassFlags<Microsoft::WRL::ClassicCom>,
                                                        IMFAsyncCallback>
{
public:
    Probe(int* Destroyed, bool Fail) : m_Destroyed(Destroyed)
    {
        if (Fail)
            throw ComException(E_FAIL);
    }
    STDMETHODIMP GetParameters(DWORD*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(IMFAsyncResult*) override { return S_OK; }

private:
    ~Probe() override { ++*m_Destroyed; }

    int* m_Destroyed;
};

void Lifetime()
{
    int Destroyed = 0;
    ComPtr<Probe> Object = Microsoft::WRL::Make<Probe>(&Destroyed, false);
    ComPtr<IMFAsyncCallback> Other = Object;
    Object.Reset();
    EXPECT(Destroyed == 0);
    Other.Reset();
    EXPECT(Destroyed == 1);
    HRESULT Thrown = S_OK;
    try
    {
        Microsoft::WRL::Make<Probe>(&Destroyed, true);
    }
    catch (const ComException& Exception)
    {
        Thrown = Exception.m_Result;
    }
    EXPECT(Thrown == E_FAIL && Destroyed == 1);
}

void Locks()
{
    Microsoft::WRL::Wrappers::SRWLock Lock;
    // Exclusive holders exclude each other.
    long Count = 0;
    auto Add = [&] {
        for (int Round = 0; Round < 100000; ++Round)
        {
            auto Held = Lock.LockExclusive();
            Count = Count + 1;
        }
    };
    std::thread First(Add), Second(Add);
    First.join();
    Second.join();
    EXPECT(Count == 200000);

    // Shared holders do not: a second thread shares while this one holds.
    {
        auto Shared = Lock.LockShared();
        std::atomic<bool> Entered = false;
        std::thread([&] { Entered = Lock.LockShared().IsLocked(); }).join();
        EXPECT(Entered);
    }

    // Unlock releases once: another thread gets it at once, and the holder's
    // end and a moved-from holder release nothing more.
    {
        auto Held = Lock.LockExclusive();
        auto Moved = std::move(Held);
        EXPECT(!Held.IsLocked() && Moved.IsLocked());
        Moved.Unlock();
        EXPECT(!Moved.IsLocked());
        std::thread([&] { Lock.LockExclusive(); }).join();
    }
    auto Again = Lock.LockExclusive();
    EXPECT(Again.IsLocked());
}

// Throws of every kind pass the hook and arrive whole.
void Throws()
{
    HRESULT Caught = S_OK;
    try
    {
        throw ComException(E_OUTOFMEMORY);
    }
    catch (const ComException& Exception)
    {
        Caught = Exception.m_Result;
    }
    EXPECT(Caught == E_OUTOFMEMORY);

    long Rethrown = 0;
    try
    {
        try
        {
            throw static_cast<long>(E_ACCESSDENIED);
        }
        catch (long)
        {
            throw;
        }
    }
    catch (long Value)
    {
        Rethrown = Value;
    }
    EXPECT(Rethrown == E_ACCESSDENIED);

    // An exception carried to another thread and thrown again there; the
    // runtime's own throws (std::vector::at) come through the hook too.
    std::exception_ptr Carried;
    std::thread([&] {
        try
        {
            std::vector<int>().at(1);
        }
        catch (...)
        {
            Carried = std::current_exception();
        }
    }).join();
    bool OutOfRange = false;
    try
    {
        std::rethrow_exception(Carried);
    }
    catch (const std::out_of_range&)
    {
        OutOfRange = true;
    }
    EXPECT(OutOfRange);
}

// This program again, with Arguments; its process handle, or null.
HANDLE StartSelf(const std::wstring& Arguments)
{
    wchar_t Path[MAX_PATH];
    GetModuleFileNameW(nullptr, Path, MAX_PATH);
    std::wstring CommandLine = L"\"" + std::wstring(Path) + L"\" " + Arguments;
    STARTUPINFOW Startup = {};
    Startup.cb = sizeof Startup;
    PROCESS_INFORMATION Process = {};
    if (!CreateProcessW(Path, CommandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &Startup, &Process))
        return nullptr;
    CloseHandle(Process.hThread);
    return Process.hProcess;
}

// A debugger that attaches as the debugging child does and then ends
// without detaching leaves the debugged process running.
void DebuggerEnds()
{
    const HANDLE Debuggee = StartSelf(L"--sleep");
    EXPECT(Debuggee != nullptr);
    if (!Debuggee)
        return;
    const HANDLE Debugger = StartSelf(L"--attach " + std::to_wstring(GetProcessId(Debuggee)));
    DWORD Attached = 1;
    EXPECT(Debugger && WaitForSingleObject(Debugger, 30000) == WAIT_OBJECT_0 &&
           GetExitCodeProcess(Debugger, &Attached) && Attached == 0);
    EXPECT(WaitForSingleObject(Debuggee, 2000) == WAIT_TIMEOUT);
    TerminateProcess(Debuggee, 0);
    CloseHandle(Debuggee);
    if (Debugger)
        CloseHandle(Debugger);
}

} // namespace

int main()
{
    // The helper processes of DebuggerEnds.
    int Count = 0;
    if (wchar_t** Arguments = CommandLineToArgvW(GetCommandLineW(), &Count); Arguments && Count >= 2)
    {
        if (wcscmp(Arguments[1], L"--sleep") == 0)
            Sleep(60000);
        if (wcscmp(Arguments[1], L"--attach") == 0 && Count == 3)
            return DebugActiveProcess(static_cast<DWORD>(_wtoi(Arguments[2]))) ? 0 : 1;
        return 0;
    }
    AllocatorInterfaces();
    SampleInterfaces();
    Lifetime();
    Locks();
    Throws();
    DebuggerEnds();
    std::printf("%s: %d failed\n", Failures ? "FAIL" : "ok", Failures);
    return Failures;
}

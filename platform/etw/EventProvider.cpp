// Event Tracing provider functions on LTTng-UST.
//
// The tracepoint lives in libostrel-lttng.so, loaded from the executable's
// folder on the first registration and kept loaded for the life of the
// process. A registration owns a watcher that polls the tracepoint's enable
// state and calls the provider's enable callback on each change, since LTTng
// has no callback of its own. Writes decode the self-describing event and
// emit it as the tracepoint's Message event.
#include <array>
#include <atomic>
#include <climits>
#include <memory>
#include <mutex>
#include <string>

#include <dlfcn.h>
#include <unistd.h>

#include "EnableStateWatcher.h"
#include "EventProviderInternal.h"
#include "TraceLoggingDecoder.h"
#include "Win32/Utf8.h"
#include <libloaderapi.h>

namespace Platform::Etw {
namespace {
// The level a listening session asks for: the tracepoint is TRACE_DEBUG,
// which is what TraceLogging calls verbose.
constexpr UCHAR EnabledLevel = 5;

// A write passes at most this many data descriptors.
constexpr ULONG MaxUserDataCount = 128;

// A handle is a sequence number above the slot number, so that a handle
// that was unregistered never names the slot's next registration.
constexpr unsigned SlotBits = 8;
constexpr size_t SlotCount = 16;

struct Slot
{
    // Nonzero while registered; the only thing writes look at, without a lock.
    std::atomic<REGHANDLE> Handle{0};
    std::atomic<const OstrelLttngProviderApi*> Api{nullptr};
    // Held from the start of a registration until it is unregistered;
    // guarded by Registry::Mutex.
    bool InUse = false;
    std::unique_ptr<EnableStateWatcher> Watcher;
};

struct Registry
{
    std::mutex Mutex;
    const OstrelLttngProviderApi* Loaded = nullptr; // guarded by Mutex
    std::atomic<const OstrelLttngProviderApi*> Override{nullptr};
    uint64_t NextSequence = 1; // guarded by Mutex
    std::array<Slot, SlotCount> Slots;
};

// Never destroyed: watchers may still run while the process exits.
Registry& GetRegistry()
{
    static Registry* Instance = new Registry;
    return *Instance;
}

Slot* FindSlot(REGHANDLE RegHandle)
{
    const size_t Index = static_cast<size_t>(RegHandle & ((1u << SlotBits) - 1)) - 1;
    if (Index >= SlotCount)
        return nullptr;
    Slot& Found = GetRegistry().Slots[Index];
    return Found.Handle.load(std::memory_order_acquire) == RegHandle ? &Found : nullptr;
}

// The library's path: the executable's folder.
bool LibraryPathBesideExecutable(std::string& Path)
{
    wchar_t Executable[PATH_MAX];
    const DWORD Length = GetModuleFileNameW(nullptr, Executable, PATH_MAX);
    if (Length == 0 || Length >= PATH_MAX)
        return false;
    const std::string ExecutablePath = Platform::Utf8FromWide(std::wstring_view(Executable, Length));
    const size_t Slash = ExecutablePath.rfind('/');
    if (Slash == std::string::npos)
        return false;
    Path.assign(ExecutablePath, 0, Slash + 1);
    Path += LttngProviderLibraryName;
    return true;
}

DWORD AcquireApi(Registry& Instance, const OstrelLttngProviderApi*& Api)
{
    Api = Instance.Override.load(std::memory_order_acquire);
    if (Api != nullptr)
        return ERROR_SUCCESS;
    if (Instance.Loaded == nullptr)
    {
        std::string Path;
        if (!LibraryPathBesideExecutable(Path))
            return ERROR_MOD_NOT_FOUND;
        if (DWORD Error = LoadLttngProvider(Path.c_str(), Instance.Loaded))
            return Error;
    }
    Api = Instance.Loaded;
    return ERROR_SUCCESS;
}
} // namespace

DWORD LoadLttngProvider(const char* Path, const OstrelLttngProviderApi*& Api)
{
    Api = nullptr;
    // Never closed: a library holding LTTng probes must not be unloaded, and
    // RTLD_NODELETE keeps any other one from being unloaded by accident.
    void* Library = dlopen(Path, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (Library == nullptr)
        return ERROR_MOD_NOT_FOUND;
    auto GetApi = reinterpret_cast<OstrelLttngGetProviderApiFunction>(dlsym(Library, OSTREL_LTTNG_PROVIDER_ENTRY));
    const OstrelLttngProviderApi* Found = GetApi != nullptr ? GetApi() : nullptr;
    if (Found == nullptr || Found->Version != OSTREL_LTTNG_PROVIDER_API_VERSION || Found->IsMessageEnabled == nullptr ||
        Found->WriteMessage == nullptr)
        return ERROR_PROC_NOT_FOUND;
    Api = Found;
    return ERROR_SUCCESS;
}

void OverrideLttngProviderForTesting(const OstrelLttngProviderApi* Api)
{
    GetRegistry().Override.store(Api, std::memory_order_release);
}
} // namespace Platform::Etw

using namespace Platform::Etw;

ULONG EventRegister(LPCGUID ProviderId, PENABLECALLBACK EnableCallback, PVOID CallbackContext, PREGHANDLE RegHandle)
{
    if (RegHandle == nullptr)
        return ERROR_INVALID_PARAMETER;
    *RegHandle = 0;
    if (ProviderId == nullptr)
        return ERROR_INVALID_PARAMETER;

    Registry& Instance = GetRegistry();
    Slot* Free = nullptr;
    const OstrelLttngProviderApi* Api = nullptr;
    REGHANDLE Handle = 0;
    {
        std::lock_guard Lock(Instance.Mutex);
        if (DWORD Error = AcquireApi(Instance, Api))
            return Error;
        for (size_t Index = 0; Index < SlotCount && Free == nullptr; ++Index)
            if (!Instance.Slots[Index].InUse)
            {
                Free = &Instance.Slots[Index];
                Handle = (Instance.NextSequence++ << SlotBits) | (Index + 1);
            }
        if (Free == nullptr)
            return ERROR_TOO_MANY_OPEN_FILES;
        Free->InUse = true;
    }

    if (EnableCallback != nullptr)
    {
        auto IsEnabled = [Api] { return Api->IsMessageEnabled() != 0; };
        auto Notify = [Provider = *ProviderId, EnableCallback, CallbackContext](bool Enabled) {
            EnableCallback(&Provider,
                           Enabled ? EVENT_CONTROL_CODE_ENABLE_PROVIDER : EVENT_CONTROL_CODE_DISABLE_PROVIDER,
                           Enabled ? EnabledLevel : 0, 0, 0, nullptr, CallbackContext);
        };
        auto Watcher = std::make_unique<EnableStateWatcher>(IsEnabled, Notify,
                                                            std::chrono::milliseconds(EnablePollIntervalMilliseconds));
        // A session that already listens is reported before EventRegister
        // returns, before the handle can be used (and unregistered).
        const bool Started = Watcher->Start();
        std::lock_guard Lock(Instance.Mutex);
        if (!Started)
        {
            Free->InUse = false;
            return ERROR_NOT_ENOUGH_MEMORY;
        }
        Free->Watcher = std::move(Watcher);
    }

    Free->Api.store(Api, std::memory_order_relaxed);
    Free->Handle.store(Handle, std::memory_order_release);
    *RegHandle = Handle;
    return ERROR_SUCCESS;
}

ULONG EventSetInformation(REGHANDLE RegHandle, EVENT_INFO_CLASS InformationClass, PVOID EventInformation,
                          ULONG InformationLength)
{
    if (FindSlot(RegHandle) == nullptr)
        return ERROR_INVALID_HANDLE;
    switch (InformationClass)
    {
    case EventProviderSetTraits:
    {
        // The traits travel again with every event; only their form matters
        // here.
        std::string_view ProviderName;
        return DecodeProviderTraits(EventInformation, InformationLength, ProviderName);
    }
    case EventProviderUseDescriptorType:
        // Descriptor types are always honoured; the flag changes nothing.
        return EventInformation != nullptr && InformationLength == 1 ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
    default: return ERROR_NOT_SUPPORTED;
    }
}

ULONG EventWriteTransfer(REGHANDLE RegHandle, PCEVENT_DESCRIPTOR EventDescriptor, LPCGUID /*ActivityId*/,
                         LPCGUID /*RelatedActivityId*/, ULONG UserDataCount, PEVENT_DATA_DESCRIPTOR UserData)
{
    Slot* Registered = FindSlot(RegHandle);
    if (Registered == nullptr)
        return ERROR_INVALID_HANDLE;
    if (EventDescriptor == nullptr || UserDataCount > MaxUserDataCount || (UserDataCount != 0 && UserData == nullptr))
        return ERROR_INVALID_PARAMETER;
    const OstrelLttngProviderApi* Api = Registered->Api.load(std::memory_order_relaxed);
    if (!Api->IsMessageEnabled())
        return ERROR_SUCCESS;

    TraceMessageBuffer Buffer;
    TraceMessage Message;
    if (DWORD Error = DecodeTraceMessage(UserDataCount, UserData, Buffer, Message))
        return Error;
    Api->WriteMessage(Message.SourceFile, Message.SourceLine, Message.SourceFunction, Message.Text);
    return ERROR_SUCCESS;
}

ULONG EventUnregister(REGHANDLE RegHandle)
{
    Registry& Instance = GetRegistry();
    std::unique_ptr<EnableStateWatcher> Watcher;
    {
        std::lock_guard Lock(Instance.Mutex);
        Slot* Registered = FindSlot(RegHandle);
        if (Registered == nullptr)
            return ERROR_INVALID_HANDLE;
        Registered->Handle.store(0, std::memory_order_release);
        Registered->InUse = false;
        Watcher = std::move(Registered->Watcher);
    }
    // Outside the lock: a callback that is running may register, unregister
    // or set information; no callback runs once this returns.
    if (Watcher)
        Watcher->Stop();
    return ERROR_SUCCESS;
}

#include "Cuda/Driver.h"

#include <atomic>
#include <dlfcn.h>

namespace Platform::Cuda {

namespace {

std::atomic<const Driver*> g_StandIn{nullptr};

template <typename Function>
bool Resolve(void* Library, const char* Name, Function& Result)
{
    Result = reinterpret_cast<Function>(dlsym(Library, Name));
    return Result != nullptr;
}

// Loads libcuda and its entry points; the library stays loaded for the
// process, as the encoder loads it too.
bool LoadLibcuda(Driver& Result, std::string& Missing)
{
    void* Library = dlopen("libcuda.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!Library)
    {
        Missing = "libcuda.so.1 not found";
        return false;
    }
    const bool Complete = Resolve(Library, "cuInit", Result.Init) &&
                          Resolve(Library, "cuDeviceGetCount", Result.DeviceGetCount) &&
                          Resolve(Library, "cuDeviceGet", Result.DeviceGet) &&
                          Resolve(Library, "cuDeviceGetUuid", Result.DeviceGetUuid) &&
                          Resolve(Library, "cuDevicePrimaryCtxRetain", Result.DevicePrimaryCtxRetain) &&
                          Resolve(Library, "cuDevicePrimaryCtxRelease_v2", Result.DevicePrimaryCtxRelease) &&
                          Resolve(Library, "cuCtxPushCurrent_v2", Result.CtxPushCurrent) &&
                          Resolve(Library, "cuCtxPopCurrent_v2", Result.CtxPopCurrent) &&
                          Resolve(Library, "cuStreamCreate", Result.StreamCreate) &&
                          Resolve(Library, "cuStreamDestroy_v2", Result.StreamDestroy) &&
                          Resolve(Library, "cuImportExternalMemory", Result.ImportExternalMemory) &&
                          Resolve(Library, "cuExternalMemoryGetMappedBuffer", Result.ExternalMemoryGetMappedBuffer) &&
                          Resolve(Library, "cuMemFree_v2", Result.MemFree) &&
                          Resolve(Library, "cuDestroyExternalMemory", Result.DestroyExternalMemory) &&
                          Resolve(Library, "cuImportExternalSemaphore", Result.ImportExternalSemaphore) &&
                          Resolve(Library, "cuWaitExternalSemaphoresAsync", Result.WaitExternalSemaphoresAsync) &&
                          Resolve(Library, "cuDestroyExternalSemaphore", Result.DestroyExternalSemaphore);
    if (!Complete)
    {
        Missing = "libcuda.so.1 lacks the external memory entry points";
        return false;
    }
    Resolve(Library, "cuGetErrorName", Result.GetErrorName);
    return true;
}

} // namespace

const Driver* LoadDriver(std::string& Missing)
{
    if (const Driver* StandIn = InjectedDriver())
        return StandIn;
    static Driver Loaded;
    static std::string Why;
    static const bool Usable = LoadLibcuda(Loaded, Why);
    if (!Usable)
    {
        Missing = Why;
        return nullptr;
    }
    return &Loaded;
}

void InjectDriver(const Driver* StandIn) { g_StandIn.store(StandIn, std::memory_order_release); }

const Driver* InjectedDriver() { return g_StandIn.load(std::memory_order_acquire); }

} // namespace Platform::Cuda

// A stand-in for the CUDA driver, for machines without one: the "device" is
// the host, an imported buffer is its file descriptor mapped into the
// process, and device addresses are host addresses. Mesa's software Vulkan
// driver exports its memory as a memfd that starts with a small header: the
// file's size, and the offset of the memory within it. It counts the calls that matter and
// fails the ones a test asks it to. One at a time per process.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

#include "Cuda/Driver.h"

namespace CudaStandIn {

using namespace Platform::Cuda;

struct State
{
    std::mutex m_Lock;
    std::array<uint8_t, 16> m_Uuid = {};
    // Failures asked for: the import of memory, of the semaphore (the stand-in
    // cannot wait for a Vulkan semaphore, so it refuses it unless told).
    CUresult m_ImportMemory = CUDA_SUCCESS;
    CUresult m_ImportSemaphore = CUDA_ERROR_NOT_SUPPORTED;
    int m_MemoryImports = 0;
    int m_LiveImports = 0;
    int m_LiveContexts = 0;
    std::vector<uint64_t> m_Waits; // values of cuWaitExternalSemaphoresAsync
    std::map<CUexternalMemory, std::pair<void*, size_t>> m_Mappings;
    std::map<CUexternalMemory, uint64_t> m_Offsets; // of the memory in the mapping
};

inline State& Shared()
{
    static State Instance;
    return Instance;
}

inline CUresult Init(unsigned) { return CUDA_SUCCESS; }
inline CUresult DeviceGetCount(int* Count)
{
    *Count = 1;
    return CUDA_SUCCESS;
}
inline CUresult DeviceGet(CUdevice* Device, int Ordinal)
{
    *Device = Ordinal;
    return CUDA_SUCCESS;
}
inline CUresult DeviceGetUuid(CUuuid* Uuid, CUdevice)
{
    std::lock_guard Guard(Shared().m_Lock);
    std::memcpy(Uuid->bytes, Shared().m_Uuid.data(), 16);
    return CUDA_SUCCESS;
}
inline CUresult PrimaryRetain(CUcontext* Context, CUdevice)
{
    static int Token;
    std::lock_guard Guard(Shared().m_Lock);
    ++Shared().m_LiveContexts;
    *Context = reinterpret_cast<CUcontext>(&Token);
    return CUDA_SUCCESS;
}
inline CUresult PrimaryRelease(CUdevice)
{
    std::lock_guard Guard(Shared().m_Lock);
    --Shared().m_LiveContexts;
    return CUDA_SUCCESS;
}
inline CUresult Push(CUcontext) { return CUDA_SUCCESS; }
inline CUresult Pop(CUcontext* Context)
{
    *Context = nullptr;
    return CUDA_SUCCESS;
}
inline CUresult StreamCreate(CUstream* Stream, unsigned)
{
    static int Token;
    *Stream = reinterpret_cast<CUstream>(&Token);
    return CUDA_SUCCESS;
}
inline CUresult StreamDestroy(CUstream) { return CUDA_SUCCESS; }
inline CUresult ImportMemory(CUexternalMemory* Memory, const CUDA_EXTERNAL_MEMORY_HANDLE_DESC* Desc)
{
    std::lock_guard Guard(Shared().m_Lock);
    if (Shared().m_ImportMemory != CUDA_SUCCESS)
        return Shared().m_ImportMemory;
    if (Desc->type != CU_EXTERNAL_MEMORY_HANDLE_TYPE_OPAQUE_FD)
        return CUDA_ERROR_INVALID_VALUE;
    uint64_t Header[2] = {}; // size, offset
    if (pread(Desc->handle.fd, Header, sizeof Header, 0) != sizeof Header || Header[1] > Header[0] ||
        Header[0] - Header[1] < Desc->size)
        return CUDA_ERROR_INVALID_VALUE;
    void* Mapped = mmap(nullptr, Header[0], PROT_READ | PROT_WRITE, MAP_SHARED, Desc->handle.fd, 0);
    if (Mapped == MAP_FAILED)
        return CUDA_ERROR_INVALID_VALUE;
    close(Desc->handle.fd); // the driver owns it now; the mapping keeps the memory
    *Memory = reinterpret_cast<CUexternalMemory>(new int(0));
    Shared().m_Mappings[*Memory] = {Mapped, Header[0]};
    Shared().m_Offsets[*Memory] = Header[1];
    ++Shared().m_MemoryImports;
    ++Shared().m_LiveImports;
    return CUDA_SUCCESS;
}
inline CUresult MappedBuffer(CUdeviceptr* Address, CUexternalMemory Memory,
                             const CUDA_EXTERNAL_MEMORY_BUFFER_DESC* Desc)
{
    std::lock_guard Guard(Shared().m_Lock);
    const auto Found = Shared().m_Mappings.find(Memory);
    const uint64_t Start = Shared().m_Offsets[Memory] + Desc->offset;
    if (Found == Shared().m_Mappings.end() || Start + Desc->size > Found->second.second)
        return CUDA_ERROR_INVALID_VALUE;
    *Address = reinterpret_cast<CUdeviceptr>(Found->second.first) + Start;
    return CUDA_SUCCESS;
}
inline CUresult MemFree(CUdeviceptr) { return CUDA_SUCCESS; }
inline CUresult DestroyMemory(CUexternalMemory Memory)
{
    std::lock_guard Guard(Shared().m_Lock);
    const auto Found = Shared().m_Mappings.find(Memory);
    if (Found == Shared().m_Mappings.end())
        return CUDA_ERROR_INVALID_VALUE;
    munmap(Found->second.first, Found->second.second);
    Shared().m_Mappings.erase(Found);
    Shared().m_Offsets.erase(Memory);
    delete reinterpret_cast<int*>(Memory);
    --Shared().m_LiveImports;
    return CUDA_SUCCESS;
}
inline CUresult ImportSemaphore(CUexternalSemaphore* Semaphore, const CUDA_EXTERNAL_SEMAPHORE_HANDLE_DESC* Desc)
{
    std::lock_guard Guard(Shared().m_Lock);
    if (Shared().m_ImportSemaphore != CUDA_SUCCESS)
        return Shared().m_ImportSemaphore;
    close(Desc->handle.fd);
    static int Token;
    *Semaphore = reinterpret_cast<CUexternalSemaphore>(&Token);
    return CUDA_SUCCESS;
}
inline CUresult WaitSemaphores(const CUexternalSemaphore*, const CUDA_EXTERNAL_SEMAPHORE_WAIT_PARAMS* Params,
                               unsigned Count, CUstream)
{
    std::lock_guard Guard(Shared().m_Lock);
    for (unsigned Index = 0; Index < Count; ++Index)
        Shared().m_Waits.push_back(Params[Index].params.fence.value);
    return CUDA_SUCCESS;
}
inline CUresult DestroySemaphore(CUexternalSemaphore) { return CUDA_SUCCESS; }

inline const Driver& Functions()
{
    static const Driver Table = [] {
        Driver Result;
        Result.Init = Init;
        Result.DeviceGetCount = DeviceGetCount;
        Result.DeviceGet = DeviceGet;
        Result.DeviceGetUuid = DeviceGetUuid;
        Result.DevicePrimaryCtxRetain = PrimaryRetain;
        Result.DevicePrimaryCtxRelease = PrimaryRelease;
        Result.CtxPushCurrent = Push;
        Result.CtxPopCurrent = Pop;
        Result.StreamCreate = StreamCreate;
        Result.StreamDestroy = StreamDestroy;
        Result.ImportExternalMemory = ImportMemory;
        Result.ExternalMemoryGetMappedBuffer = MappedBuffer;
        Result.MemFree = MemFree;
        Result.DestroyExternalMemory = DestroyMemory;
        Result.ImportExternalSemaphore = ImportSemaphore;
        Result.WaitExternalSemaphoresAsync = WaitSemaphores;
        Result.DestroyExternalSemaphore = DestroySemaphore;
        Result.m_HostAddresses = true;
        return Result;
    }();
    return Table;
}

// Puts the stand-in in place of libcuda for its lifetime, with a device of
// Uuid and the failures asked for.
class Scope
{
public:
    explicit Scope(const std::array<uint8_t, 16>& Uuid, CUresult ImportMemory = CUDA_SUCCESS,
                   CUresult ImportSemaphore = CUDA_ERROR_NOT_SUPPORTED)
    {
        std::lock_guard Guard(Shared().m_Lock);
        Shared().m_Uuid = Uuid;
        Shared().m_ImportMemory = ImportMemory;
        Shared().m_ImportSemaphore = ImportSemaphore;
        Shared().m_MemoryImports = 0;
        Shared().m_Waits.clear();
        InjectDriver(&Functions());
    }
    ~Scope() { InjectDriver(nullptr); }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;
};

} // namespace CudaStandIn

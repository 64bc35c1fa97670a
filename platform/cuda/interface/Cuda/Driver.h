// The CUDA driver API as this platform uses it: the few types and entry
// points, declared after the driver's published C signatures, and the
// library itself, loaded at run time so that nothing CUDA is needed to
// build or to run where there is no NVIDIA driver.
#pragma once

#include <cstdint>
#include <string>

namespace Platform::Cuda {

using CUresult = int;
using CUdevice = int;
using CUdeviceptr = unsigned long long;
using CUcontext = struct CUctx_st*;
using CUstream = struct CUstream_st*;
using CUexternalMemory = struct CUextMemory_st*;
using CUexternalSemaphore = struct CUextSemaphore_st*;

constexpr CUresult CUDA_SUCCESS = 0;
constexpr CUresult CUDA_ERROR_INVALID_VALUE = 1;
constexpr CUresult CUDA_ERROR_OUT_OF_MEMORY = 2;
constexpr CUresult CUDA_ERROR_NOT_INITIALIZED = 3;
constexpr CUresult CUDA_ERROR_NO_DEVICE = 100;
constexpr CUresult CUDA_ERROR_FILE_NOT_FOUND = 301;
constexpr CUresult CUDA_ERROR_NOT_FOUND = 500;
constexpr CUresult CUDA_ERROR_NOT_SUPPORTED = 801;

struct CUuuid
{
    char bytes[16];
};

constexpr int CU_EXTERNAL_MEMORY_HANDLE_TYPE_OPAQUE_FD = 1;
constexpr unsigned CUDA_EXTERNAL_MEMORY_DEDICATED = 0x1;
constexpr int CU_EXTERNAL_SEMAPHORE_HANDLE_TYPE_TIMELINE_SEMAPHORE_FD = 9;
constexpr unsigned CU_STREAM_NON_BLOCKING = 0x1;

// The handle of imported memory or a semaphore: here always a file
// descriptor; the other members give the union its size.
union CUexternalHandle
{
    int fd;
    struct
    {
        void* handle;
        const void* name;
    } win32;
    const void* nvSciObject;
};

struct CUDA_EXTERNAL_MEMORY_HANDLE_DESC
{
    int type;
    CUexternalHandle handle;
    unsigned long long size;
    unsigned int flags;
    unsigned int reserved[16];
};

struct CUDA_EXTERNAL_MEMORY_BUFFER_DESC
{
    unsigned long long offset;
    unsigned long long size;
    unsigned int flags;
    unsigned int reserved[16];
};

struct CUDA_EXTERNAL_SEMAPHORE_HANDLE_DESC
{
    int type;
    CUexternalHandle handle;
    unsigned int flags;
    unsigned int reserved[16];
};

struct CUDA_EXTERNAL_SEMAPHORE_WAIT_PARAMS
{
    struct
    {
        struct
        {
            unsigned long long value;
        } fence;
        union
        {
            void* fence;
            unsigned long long reserved;
        } nvSciSync;
        struct
        {
            unsigned long long key;
            unsigned int timeoutMs;
        } keyedMutex;
        unsigned int reserved[10];
    } params;
    unsigned int flags;
    unsigned int reserved[16];
};

// The layouts that the driver reads (64-bit Linux).
static_assert(sizeof(CUDA_EXTERNAL_MEMORY_HANDLE_DESC) == 104);
static_assert(sizeof(CUDA_EXTERNAL_MEMORY_BUFFER_DESC) == 88);
static_assert(sizeof(CUDA_EXTERNAL_SEMAPHORE_HANDLE_DESC) == 96);
static_assert(sizeof(CUDA_EXTERNAL_SEMAPHORE_WAIT_PARAMS) == 144);

// The entry points, each under the name of the driver's current version of
// the function.
struct Driver
{
    CUresult (*Init)(unsigned Flags) = nullptr;
    CUresult (*DeviceGetCount)(int* Count) = nullptr;
    CUresult (*DeviceGet)(CUdevice* Device, int Ordinal) = nullptr;
    CUresult (*DeviceGetUuid)(CUuuid* Uuid, CUdevice Device) = nullptr;
    CUresult (*DevicePrimaryCtxRetain)(CUcontext* Context, CUdevice Device) = nullptr;
    CUresult (*DevicePrimaryCtxRelease)(CUdevice Device) = nullptr;
    CUresult (*CtxPushCurrent)(CUcontext Context) = nullptr;
    CUresult (*CtxPopCurrent)(CUcontext* Context) = nullptr;
    CUresult (*StreamCreate)(CUstream* Stream, unsigned Flags) = nullptr;
    CUresult (*StreamDestroy)(CUstream Stream) = nullptr;
    CUresult (*ImportExternalMemory)(CUexternalMemory* Memory, const CUDA_EXTERNAL_MEMORY_HANDLE_DESC* Desc) = nullptr;
    CUresult (*ExternalMemoryGetMappedBuffer)(CUdeviceptr* Address, CUexternalMemory Memory,
                                              const CUDA_EXTERNAL_MEMORY_BUFFER_DESC* Desc) = nullptr;
    CUresult (*MemFree)(CUdeviceptr Address) = nullptr;
    CUresult (*DestroyExternalMemory)(CUexternalMemory Memory) = nullptr;
    CUresult (*ImportExternalSemaphore)(CUexternalSemaphore* Semaphore,
                                        const CUDA_EXTERNAL_SEMAPHORE_HANDLE_DESC* Desc) = nullptr;
    CUresult (*WaitExternalSemaphoresAsync)(const CUexternalSemaphore* Semaphores,
                                            const CUDA_EXTERNAL_SEMAPHORE_WAIT_PARAMS* Params, unsigned Count,
                                            CUstream Stream) = nullptr;
    CUresult (*DestroyExternalSemaphore)(CUexternalSemaphore Semaphore) = nullptr;
    CUresult (*GetErrorName)(CUresult Result, const char** Name) = nullptr; // may stay null

    // A stand-in whose device addresses are host addresses (tests): the
    // encoder may read them as host memory.
    bool m_HostAddresses = false;
};

// The driver: a stand-in put in place by a test, else libcuda, loaded once
// per process. Null when neither is there; Missing then says why.
const Driver* LoadDriver(std::string& Missing);

// Tests: the stand-in that LoadDriver answers instead of libcuda, until
// called again with null. The stand-in must outlive its use.
void InjectDriver(const Driver* StandIn);
// The stand-in in place, if any.
const Driver* InjectedDriver();

} // namespace Platform::Cuda

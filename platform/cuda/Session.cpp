#include "Cuda/Session.h"

#include <cstring>
#include <unistd.h>

namespace Platform::Cuda {

class Session::Current
{
public:
    explicit Current(const Session& Owner) : m_Driver(Owner.m_Driver)
    {
        m_Result = Check("cuCtxPushCurrent", m_Driver.CtxPushCurrent(Owner.m_Context));
    }
    ~Current()
    {
        CUcontext Popped = nullptr;
        if (!m_Result.Failed())
            m_Driver.CtxPopCurrent(&Popped);
    }
    Current(const Current&) = delete;
    Current& operator=(const Current&) = delete;

    const Error& Result() const { return m_Result; }

private:
    const Driver& m_Driver;
    Error m_Result;
};

Error Session::Open(const Driver& Driver, const std::array<uint8_t, 16>& Uuid, std::unique_ptr<Session>& Result)
{
    CUDA_RETURN_IF_FAILED("cuInit", Driver.Init(0));
    int Count = 0;
    CUDA_RETURN_IF_FAILED("cuDeviceGetCount", Driver.DeviceGetCount(&Count));
    // By identity, not by bus address: the UUID is what both APIs report
    // for the same physical device.
    CUdevice Found = -1;
    for (int Ordinal = 0; Ordinal < Count && Found < 0; ++Ordinal)
    {
        CUdevice Device = -1;
        CUuuid Identity = {};
        if (Driver.DeviceGet(&Device, Ordinal) == CUDA_SUCCESS &&
            Driver.DeviceGetUuid(&Identity, Device) == CUDA_SUCCESS &&
            std::memcmp(Identity.bytes, Uuid.data(), Uuid.size()) == 0)
            Found = Device;
    }
    if (Found < 0)
        return Error{"no CUDA device with the Vulkan device's UUID", CUDA_ERROR_NO_DEVICE};

    std::unique_ptr<Session> Created(new Session(Driver));
    CUDA_RETURN_IF_FAILED("cuDevicePrimaryCtxRetain", Driver.DevicePrimaryCtxRetain(&Created->m_Context, Found));
    Created->m_Device = Found;
    {
        const Current Scope(*Created);
        if (Scope.Result().Failed())
            return Scope.Result();
        CUDA_RETURN_IF_FAILED("cuStreamCreate", Driver.StreamCreate(&Created->m_Stream, CU_STREAM_NON_BLOCKING));
    }
    Result = std::move(Created);
    return {};
}

Session::~Session()
{
    if (m_Context)
    {
        const Current Scope(*this);
        if (m_Stream)
            m_Driver.StreamDestroy(m_Stream);
        for (const Import& Imported : m_Imports)
        {
            m_Driver.MemFree(Imported.m_Address);
            m_Driver.DestroyExternalMemory(Imported.m_Memory);
        }
        if (m_Timeline)
            m_Driver.DestroyExternalSemaphore(m_Timeline);
    }
    if (m_Device >= 0)
        m_Driver.DevicePrimaryCtxRelease(m_Device);
}

Error Session::ImportBuffer(int Descriptor, uint64_t AllocationSize, bool Dedicated, uint64_t Size,
                            CUdeviceptr& Address)
{
    const Current Scope(*this);
    if (Scope.Result().Failed() || Size > AllocationSize)
    {
        close(Descriptor);
        return Scope.Result().Failed() ? Scope.Result() : Error{"cuImportExternalMemory", CUDA_ERROR_INVALID_VALUE};
    }
    CUDA_EXTERNAL_MEMORY_HANDLE_DESC Memory = {};
    Memory.type = CU_EXTERNAL_MEMORY_HANDLE_TYPE_OPAQUE_FD;
    Memory.handle.fd = Descriptor;
    Memory.size = AllocationSize;
    Memory.flags = Dedicated ? CUDA_EXTERNAL_MEMORY_DEDICATED : 0;
    CUexternalMemory Imported = nullptr;
    // The driver owns the descriptor once the import succeeds.
    const Error Failure = Check("cuImportExternalMemory", m_Driver.ImportExternalMemory(&Imported, &Memory));
    if (Failure.Failed())
    {
        close(Descriptor);
        return Failure;
    }
    CUDA_EXTERNAL_MEMORY_BUFFER_DESC Buffer = {};
    Buffer.offset = 0;
    Buffer.size = Size;
    const Error Mapped =
        Check("cuExternalMemoryGetMappedBuffer", m_Driver.ExternalMemoryGetMappedBuffer(&Address, Imported, &Buffer));
    if (Mapped.Failed())
    {
        m_Driver.DestroyExternalMemory(Imported);
        return Mapped;
    }
    m_Imports.push_back({Imported, Address});
    return {};
}

Error Session::ImportTimeline(int Descriptor)
{
    const Current Scope(*this);
    if (Scope.Result().Failed() || m_Timeline)
    {
        close(Descriptor);
        return Scope.Result().Failed() ? Scope.Result() : Error{"cuImportExternalSemaphore", CUDA_ERROR_INVALID_VALUE};
    }
    CUDA_EXTERNAL_SEMAPHORE_HANDLE_DESC Semaphore = {};
    Semaphore.type = CU_EXTERNAL_SEMAPHORE_HANDLE_TYPE_TIMELINE_SEMAPHORE_FD;
    Semaphore.handle.fd = Descriptor;
    const Error Failure = Check("cuImportExternalSemaphore", m_Driver.ImportExternalSemaphore(&m_Timeline, &Semaphore));
    if (Failure.Failed())
    {
        m_Timeline = nullptr;
        close(Descriptor);
    }
    return Failure;
}

Error Session::WaitOnStream(uint64_t Value)
{
    if (!m_Timeline)
        return Error{"cuWaitExternalSemaphoresAsync", CUDA_ERROR_NOT_INITIALIZED};
    const Current Scope(*this);
    if (Scope.Result().Failed())
        return Scope.Result();
    CUDA_EXTERNAL_SEMAPHORE_WAIT_PARAMS Wait = {};
    Wait.params.fence.value = Value;
    return Check("cuWaitExternalSemaphoresAsync",
                 m_Driver.WaitExternalSemaphoresAsync(&m_Timeline, &Wait, 1, m_Stream));
}

} // namespace Platform::Cuda

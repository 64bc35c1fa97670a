// The CUDA device that a Vulkan device is (the same UUID), with its primary
// context, a stream of its own for the work that reads imported frames, and
// the frames' memory and the timeline semaphore imported from Vulkan.
//
// Import each buffer once and keep it: imports are costly. Calls come from
// one thread at a time; the session makes its context current around each.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "Driver.h"
#include "Error.h"

namespace Platform::Cuda {

class Session
{
public:
    // The device of Uuid, through Driver; CUDA_ERROR_NO_DEVICE when no CUDA
    // device has that UUID.
    static Error Open(const Driver& Driver, const std::array<uint8_t, 16>& Uuid, std::unique_ptr<Session>& Result);
    // Drops the imports, the stream and the context: whatever reads the
    // imported memory (an encoder) must be done with it.
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    const Driver& Functions() const { return m_Driver; }
    CUcontext Context() const { return m_Context; }
    CUstream Stream() const { return m_Stream; }

    // Imports Size bytes from the start of the memory behind Descriptor (an
    // opaque file descriptor of AllocationSize bytes, Dedicated as Vulkan
    // allocated it) and maps them. Takes the descriptor in every case.
    Error ImportBuffer(int Descriptor, uint64_t AllocationSize, bool Dedicated, uint64_t Size, CUdeviceptr& Address);
    // Imports a Vulkan timeline semaphore (an opaque file descriptor); takes
    // the descriptor in every case.
    Error ImportTimeline(int Descriptor);
    bool HasTimeline() const { return m_Timeline != nullptr; }
    // Work queued on the stream from now on starts once the timeline has
    // reached Value; the host does not wait.
    Error WaitOnStream(uint64_t Value);

private:
    explicit Session(const Driver& Driver) : m_Driver(Driver) {}

    // Makes the context current on this thread while in scope.
    class Current;

    struct Import
    {
        CUexternalMemory m_Memory;
        CUdeviceptr m_Address;
    };

    const Driver& m_Driver;
    CUdevice m_Device = -1;
    CUcontext m_Context = nullptr;
    CUstream m_Stream = nullptr;
    CUexternalSemaphore m_Timeline = nullptr;
    std::vector<Import> m_Imports;
};

} // namespace Platform::Cuda

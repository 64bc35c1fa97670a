// Host-written memory that the device reads: small updates (constant
// buffers, initial data) are written into a fresh range each time, so that an
// update never waits for the device to finish reading the previous one.
//
// Ranges come from chunks of host-visible memory. A chunk is reused once
// nothing holds a range of it any more: neither a resource that was renamed
// to one of its ranges nor a batch still in flight (both hold the chunk's
// buffer). Not thread-safe: the command context's owner serialises callers.
#pragma once

#include <memory>
#include <vector>

#include "Vulkan/Memory.h"

namespace Platform::Vulkan {

class UploadRing
{
public:
    explicit UploadRing(std::shared_ptr<Device> Device) : m_Device(std::move(Device)) {}

    // A range of Size bytes whose offset is a multiple of Alignment (a power
    // of two), to be written through its Host() pointer before the batch
    // that reads it is submitted. Device writes to it are not allowed.
    VkResult Allocate(VkDeviceSize Size, VkDeviceSize Alignment, BufferSlice& Result);

    // Chunks made so far, for tests.
    size_t ChunkCount() const { return m_Chunks.size(); }

    static constexpr VkDeviceSize ChunkSize = 256 * 1024;
    // What the device may do with the ranges: read them.
    static constexpr VkBufferUsageFlags Usage = VK_BUFFER_USAGE_TRANSFER_SRC_BIT | VK_BUFFER_USAGE_UNIFORM_BUFFER_BIT |
                                                VK_BUFFER_USAGE_VERTEX_BUFFER_BIT | VK_BUFFER_USAGE_INDEX_BUFFER_BIT;

private:
    struct Chunk
    {
        std::shared_ptr<Buffer> m_Memory;
        VkDeviceSize m_Used = 0;
    };

    std::shared_ptr<Device> m_Device;
    std::vector<Chunk> m_Chunks;
    size_t m_Current = 0;
};

} // namespace Platform::Vulkan

#include "UploadRing.h"

namespace Platform::Vulkan {

namespace {

VkDeviceSize AlignUp(VkDeviceSize Value, VkDeviceSize Alignment) { return (Value + Alignment - 1) & ~(Alignment - 1); }

} // namespace

VkResult UploadRing::Allocate(VkDeviceSize Size, VkDeviceSize Alignment, BufferSlice& Result)
{
    if (Size == 0 || Alignment == 0 || (Alignment & (Alignment - 1)) != 0)
        return VK_ERROR_VALIDATION_FAILED_EXT;
    // The current chunk, if the range fits; else the next chunk that nothing
    // holds any more; else a new one.
    for (size_t Tried = 0; Tried <= m_Chunks.size(); ++Tried)
    {
        if (m_Current < m_Chunks.size())
        {
            Chunk& Candidate = m_Chunks[m_Current];
            const VkDeviceSize Offset = AlignUp(Candidate.m_Used, Alignment);
            if (Offset + Size <= Candidate.m_Memory->Size())
            {
                Candidate.m_Used = Offset + Size;
                Result = {Candidate.m_Memory, Offset, Size};
                return VK_SUCCESS;
            }
        }
        if (m_Chunks.empty())
            break;
        m_Current = (m_Current + 1) % m_Chunks.size();
        if (m_Chunks[m_Current].m_Memory.use_count() == 1)
            m_Chunks[m_Current].m_Used = 0;
        else
            m_Chunks[m_Current].m_Used = m_Chunks[m_Current].m_Memory->Size(); // still read: full
    }
    Chunk Created;
    const VkResult Status = Buffer::Create(m_Device, std::max(ChunkSize, AlignUp(Size, Alignment)), Usage,
                                           Buffer::Access::HostWrite, Created.m_Memory);
    if (Status != VK_SUCCESS)
        return Status;
    Created.m_Used = Size;
    Result = {Created.m_Memory, 0, Size};
    m_Chunks.push_back(std::move(Created));
    m_Current = m_Chunks.size() - 1;
    return VK_SUCCESS;
}

} // namespace Platform::Vulkan

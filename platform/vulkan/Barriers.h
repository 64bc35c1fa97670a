// Barriers from what each resource last went through: an operation states how
// it touches each resource (stages, accesses, the layout an image must be in),
// and gets exactly the dependencies that those resources need, in one
// pipeline barrier recorded before it.
#pragma once

#include <vector>

#include <vulkan/vulkan.h>

#include "AccessState.h"
#include "Vulkan/Memory.h"

namespace Platform::Vulkan {

// How an operation touches a resource.
struct Access
{
    VkPipelineStageFlags m_Stages = 0;
    VkAccessFlags m_Access = 0;
    VkImageLayout m_Layout = VK_IMAGE_LAYOUT_UNDEFINED; // images: the layout that the access needs

    bool Writes() const;
};

// The dependency that one access needs, and the state it leaves behind.
struct Dependency
{
    bool m_Needed = false;
    VkPipelineStageFlags m_SourceStages = 0;
    VkAccessFlags m_SourceAccess = 0;
    VkPipelineStageFlags m_TargetStages = 0;
    VkAccessFlags m_TargetAccess = 0;
    VkImageLayout m_OldLayout = VK_IMAGE_LAYOUT_UNDEFINED; // images only
    VkImageLayout m_NewLayout = VK_IMAGE_LAYOUT_UNDEFINED;
};

// What Use of a resource in State needs first, and State moved past Use.
// Image: the layout counts. Discard: the contents do not matter (the access
// overwrites all of them), so a layout change may drop them.
Dependency Plan(AccessState& State, const Access& Use, bool Image, bool Discard = false);
// The same question, without changing State.
bool NeedsBarrier(const AccessState& State, const Access& Use, bool Image);

// The dependencies of one operation, recorded as one pipeline barrier.
class BarrierBatch
{
public:
    void Add(Buffer& Target, const Access& Use);
    void Add(Image& Target, const Access& Use, bool Discard = false);
    bool Empty() const { return m_SourceStages == 0 && m_TargetStages == 0; }
    // Records the barrier, if any, and starts over.
    void Record(VkCommandBuffer Commands);

private:
    void Merge(const Dependency& Needed);

    VkPipelineStageFlags m_SourceStages = 0;
    VkPipelineStageFlags m_TargetStages = 0;
    std::vector<VkBufferMemoryBarrier> m_Buffers;
    std::vector<VkImageMemoryBarrier> m_Images;
};

} // namespace Platform::Vulkan

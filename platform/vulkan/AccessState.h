// How the commands recorded so far left a resource: the write that later
// accesses must wait for, the stages that have read since, where that write
// is already visible, and an image's layout. Kept by the command context
// under its owner's lock.
#pragma once

#include <cstdint>

#include <vulkan/vulkan.h>

namespace Platform::Vulkan {

struct AccessState
{
    VkPipelineStageFlags m_WriteStages = 0; // 0: no write to wait for
    VkAccessFlags m_WriteAccess = 0;        // to make available; 0 after a layout change
    VkPipelineStageFlags m_ReadStages = 0;  // that read since the write
    VkPipelineStageFlags m_VisibleStages = 0;
    VkAccessFlags m_VisibleAccess = 0;
    VkImageLayout m_Layout = VK_IMAGE_LAYOUT_UNDEFINED;
    // The timeline value of the last batch that uses the resource.
    uint64_t m_LastUse = 0;
    // Handed over to another API (the external queue family) since its last
    // use here: it must be taken back before the next.
    bool m_Released = false;
};

} // namespace Platform::Vulkan

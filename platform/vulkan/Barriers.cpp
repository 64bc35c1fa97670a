#include "Barriers.h"
#include "Structure.h"

namespace Platform::Vulkan {

namespace {

constexpr VkAccessFlags WriteAccess = VK_ACCESS_SHADER_WRITE_BIT | VK_ACCESS_COLOR_ATTACHMENT_WRITE_BIT |
                                      VK_ACCESS_DEPTH_STENCIL_ATTACHMENT_WRITE_BIT | VK_ACCESS_TRANSFER_WRITE_BIT |
                                      VK_ACCESS_HOST_WRITE_BIT | VK_ACCESS_MEMORY_WRITE_BIT;

bool Visible(const AccessState& State, const Access& Use)
{
    return (Use.m_Stages & ~State.m_VisibleStages) == 0 && (Use.m_Access & ~State.m_VisibleAccess) == 0;
}

void Wrote(AccessState& State, const Access& Use)
{
    State.m_WriteStages = Use.m_Stages;
    State.m_WriteAccess = Use.m_Access & WriteAccess;
    State.m_ReadStages = 0;
    State.m_VisibleStages = 0;
    State.m_VisibleAccess = 0;
}

} // namespace

bool Access::Writes() const { return (m_Access & WriteAccess) != 0; }

bool NeedsBarrier(const AccessState& State, const Access& Use, bool Image)
{
    if (Image && State.m_Layout != Use.m_Layout)
        return true;
    if (State.m_WriteStages != 0)
        return Use.Writes() || !Visible(State, Use);
    return Use.Writes() && State.m_ReadStages != 0;
}

Dependency Plan(AccessState& State, const Access& Use, bool Image, bool Discard)
{
    Dependency Result;
    Result.m_TargetStages = Use.m_Stages;
    Result.m_TargetAccess = Use.m_Access;
    Result.m_OldLayout = Result.m_NewLayout = Use.m_Layout;
    if (Image && State.m_Layout != Use.m_Layout)
    {
        // A layout change writes the image: it waits for the last write and
        // every read since, and the access waits for it.
        Result.m_Needed = true;
        Result.m_SourceStages = State.m_WriteStages | State.m_ReadStages;
        Result.m_SourceAccess = State.m_WriteAccess;
        Result.m_OldLayout = Discard ? VK_IMAGE_LAYOUT_UNDEFINED : State.m_Layout;
        State.m_Layout = Use.m_Layout;
        if (Use.Writes())
            Wrote(State, Use);
        else
        {
            // The change is the write now; it is visible where Use reads.
            State.m_WriteStages = Use.m_Stages;
            State.m_WriteAccess = 0;
            State.m_ReadStages = Use.m_Stages;
            State.m_VisibleStages = Use.m_Stages;
            State.m_VisibleAccess = Use.m_Access;
        }
        return Result;
    }
    if (Use.Writes())
    {
        // After a write (WAW) or after reads (WAR): wait for both.
        Result.m_Needed = State.m_WriteStages != 0 || State.m_ReadStages != 0;
        Result.m_SourceStages = State.m_WriteStages | State.m_ReadStages;
        Result.m_SourceAccess = State.m_WriteAccess;
        Wrote(State, Use);
        return Result;
    }
    if (State.m_WriteStages != 0 && !Visible(State, Use))
    {
        // A read after a write (RAW) that is not yet visible to it.
        Result.m_Needed = true;
        Result.m_SourceStages = State.m_WriteStages;
        Result.m_SourceAccess = State.m_WriteAccess;
        State.m_VisibleStages |= Use.m_Stages;
        State.m_VisibleAccess |= Use.m_Access;
    }
    State.m_ReadStages |= Use.m_Stages;
    return Result;
}

void BarrierBatch::Merge(const Dependency& Needed)
{
    m_SourceStages |=
        Needed.m_SourceStages ? Needed.m_SourceStages : VkPipelineStageFlags(VK_PIPELINE_STAGE_TOP_OF_PIPE_BIT);
    m_TargetStages |= Needed.m_TargetStages;
}

void BarrierBatch::Add(Buffer& Target, const Access& Use)
{
    const Dependency Needed = Plan(*Target.m_State, Use, false);
    if (!Needed.m_Needed)
        return;
    Merge(Needed);
    // A dependency on reads alone orders execution; nothing to make visible.
    if (Needed.m_SourceAccess == 0)
        return;
    auto Barrier = Vulkan::Describe<VkBufferMemoryBarrier>(VK_STRUCTURE_TYPE_BUFFER_MEMORY_BARRIER);
    Barrier.srcAccessMask = Needed.m_SourceAccess;
    Barrier.dstAccessMask = Needed.m_TargetAccess;
    Barrier.srcQueueFamilyIndex = Barrier.dstQueueFamilyIndex = VK_QUEUE_FAMILY_IGNORED;
    Barrier.buffer = Target.Handle();
    Barrier.offset = 0;
    Barrier.size = VK_WHOLE_SIZE;
    m_Buffers.push_back(Barrier);
}

void BarrierBatch::Add(Image& Target, const Access& Use, bool Discard)
{
    const Dependency Needed = Plan(*Target.m_State, Use, true, Discard);
    if (!Needed.m_Needed)
        return;
    Merge(Needed);
    if (Needed.m_SourceAccess == 0 && Needed.m_OldLayout == Needed.m_NewLayout)
        return;
    auto Barrier = Vulkan::Describe<VkImageMemoryBarrier>(VK_STRUCTURE_TYPE_IMAGE_MEMORY_BARRIER);
    Barrier.srcAccessMask = Needed.m_SourceAccess;
    Barrier.dstAccessMask = Needed.m_TargetAccess;
    Barrier.oldLayout = Needed.m_OldLayout;
    Barrier.newLayout = Needed.m_NewLayout;
    Barrier.srcQueueFamilyIndex = Barrier.dstQueueFamilyIndex = VK_QUEUE_FAMILY_IGNORED;
    Barrier.image = Target.Handle();
    // The images here are not disjoint: multi-planar ones too take the colour aspect.
    Barrier.subresourceRange = {VK_IMAGE_ASPECT_COLOR_BIT, 0, 1, 0, 1};
    m_Images.push_back(Barrier);
}

void BarrierBatch::Record(VkCommandBuffer Commands)
{
    if (!Empty() && Commands)
        vkCmdPipelineBarrier(Commands, m_SourceStages, m_TargetStages, 0, 0, nullptr,
                             static_cast<uint32_t>(m_Buffers.size()), m_Buffers.data(),
                             static_cast<uint32_t>(m_Images.size()), m_Images.data());
    m_SourceStages = m_TargetStages = 0;
    m_Buffers.clear();
    m_Images.clear();
}

} // namespace Platform::Vulkan

// The barrier planning of the command context, on described resource states:
// each hazard gets the dependency it needs, and nothing more.

#include <gtest/gtest.h>

#include "vulkan/Barriers.h"

namespace {

using Platform::Vulkan::Access;
using Platform::Vulkan::AccessState;
using Platform::Vulkan::Dependency;
using Platform::Vulkan::NeedsBarrier;
using Platform::Vulkan::Plan;

constexpr Access CopyWrite = {VK_PIPELINE_STAGE_TRANSFER_BIT, VK_ACCESS_TRANSFER_WRITE_BIT,
                              VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL};
constexpr Access CopyRead = {VK_PIPELINE_STAGE_TRANSFER_BIT, VK_ACCESS_TRANSFER_READ_BIT,
                             VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL};
constexpr Access VertexRead = {VK_PIPELINE_STAGE_VERTEX_INPUT_BIT, VK_ACCESS_VERTEX_ATTRIBUTE_READ_BIT};
constexpr Access UniformRead = {VK_PIPELINE_STAGE_FRAGMENT_SHADER_BIT, VK_ACCESS_UNIFORM_READ_BIT};
constexpr Access HostRead = {VK_PIPELINE_STAGE_HOST_BIT, VK_ACCESS_HOST_READ_BIT};
constexpr Access Draw = {VK_PIPELINE_STAGE_COLOR_ATTACHMENT_OUTPUT_BIT,
                         VK_ACCESS_COLOR_ATTACHMENT_READ_BIT | VK_ACCESS_COLOR_ATTACHMENT_WRITE_BIT,
                         VK_IMAGE_LAYOUT_COLOR_ATTACHMENT_OPTIMAL};
constexpr Access ShaderRead = {VK_PIPELINE_STAGE_COMPUTE_SHADER_BIT, VK_ACCESS_SHADER_READ_BIT,
                               VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL};
constexpr Access FragmentRead = {VK_PIPELINE_STAGE_FRAGMENT_SHADER_BIT, VK_ACCESS_SHADER_READ_BIT,
                                 VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL};

} // namespace

TEST(VulkanBarriers, BufferHazardsGetTheirDependencyAndNoMore)
{
    AccessState Buffer;
    // The first write has nothing to wait for.
    EXPECT_FALSE(Plan(Buffer, {VK_PIPELINE_STAGE_TRANSFER_BIT, VK_ACCESS_TRANSFER_WRITE_BIT}, false).m_Needed);

    // Read after write: the write made available and visible to the reader.
    EXPECT_TRUE(NeedsBarrier(Buffer, VertexRead, false));
    Dependency Raw = Plan(Buffer, VertexRead, false);
    EXPECT_TRUE(Raw.m_Needed);
    EXPECT_EQ(Raw.m_SourceStages, VkPipelineStageFlags(VK_PIPELINE_STAGE_TRANSFER_BIT));
    EXPECT_EQ(Raw.m_SourceAccess, VkAccessFlags(VK_ACCESS_TRANSFER_WRITE_BIT));
    EXPECT_EQ(Raw.m_TargetStages, VkPipelineStageFlags(VK_PIPELINE_STAGE_VERTEX_INPUT_BIT));
    EXPECT_EQ(Raw.m_TargetAccess, VkAccessFlags(VK_ACCESS_VERTEX_ATTRIBUTE_READ_BIT));
    // The same read again is covered; a read elsewhere is not.
    EXPECT_FALSE(NeedsBarrier(Buffer, VertexRead, false));
    EXPECT_FALSE(Plan(Buffer, VertexRead, false).m_Needed);
    EXPECT_TRUE(Plan(Buffer, UniformRead, false).m_Needed);
    EXPECT_TRUE(Plan(Buffer, HostRead, false).m_Needed) << "the host sees device writes only through a barrier";

    // Write after reads (and the write before them): wait for all of them.
    const Dependency War = Plan(Buffer, {VK_PIPELINE_STAGE_TRANSFER_BIT, VK_ACCESS_TRANSFER_WRITE_BIT}, false);
    EXPECT_TRUE(War.m_Needed);
    EXPECT_EQ(War.m_SourceStages,
              VkPipelineStageFlags(VK_PIPELINE_STAGE_TRANSFER_BIT | VK_PIPELINE_STAGE_VERTEX_INPUT_BIT |
                                   VK_PIPELINE_STAGE_FRAGMENT_SHADER_BIT | VK_PIPELINE_STAGE_HOST_BIT));
    // Write after write.
    const Dependency Waw = Plan(Buffer, {VK_PIPELINE_STAGE_TRANSFER_BIT, VK_ACCESS_TRANSFER_WRITE_BIT}, false);
    EXPECT_TRUE(Waw.m_Needed);
    EXPECT_EQ(Waw.m_SourceAccess, VkAccessFlags(VK_ACCESS_TRANSFER_WRITE_BIT));

    // Memory that only ever is read (host-written ranges) never needs one.
    AccessState ReadOnly;
    EXPECT_FALSE(Plan(ReadOnly, VertexRead, false).m_Needed);
    EXPECT_FALSE(Plan(ReadOnly, UniformRead, false).m_Needed);
    // A write after those reads waits for them, with nothing to make visible.
    const Dependency AfterReads = Plan(ReadOnly, {VK_PIPELINE_STAGE_TRANSFER_BIT, VK_ACCESS_TRANSFER_WRITE_BIT}, false);
    EXPECT_TRUE(AfterReads.m_Needed);
    EXPECT_EQ(AfterReads.m_SourceStages,
              VkPipelineStageFlags(VK_PIPELINE_STAGE_VERTEX_INPUT_BIT | VK_PIPELINE_STAGE_FRAGMENT_SHADER_BIT));
    EXPECT_EQ(AfterReads.m_SourceAccess, 0u);
}

TEST(VulkanBarriers, ImagesChangeLayoutOnlyWhenTheOperationNeedsAnother)
{
    // A frame's render target: drawn, copied out, drawn again.
    AccessState Target;
    const Dependency First = Plan(Target, Draw, true, true);
    EXPECT_TRUE(First.m_Needed);
    EXPECT_EQ(First.m_OldLayout, VK_IMAGE_LAYOUT_UNDEFINED);
    EXPECT_EQ(First.m_NewLayout, VK_IMAGE_LAYOUT_COLOR_ATTACHMENT_OPTIMAL);
    EXPECT_EQ(Target.m_Layout, VK_IMAGE_LAYOUT_COLOR_ATTACHMENT_OPTIMAL);

    const Dependency Copy = Plan(Target, CopyRead, true);
    EXPECT_TRUE(Copy.m_Needed);
    EXPECT_EQ(Copy.m_OldLayout, VK_IMAGE_LAYOUT_COLOR_ATTACHMENT_OPTIMAL);
    EXPECT_EQ(Copy.m_NewLayout, VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL);
    EXPECT_EQ(Copy.m_SourceStages, VkPipelineStageFlags(VK_PIPELINE_STAGE_COLOR_ATTACHMENT_OUTPUT_BIT));
    EXPECT_EQ(Copy.m_SourceAccess, VkAccessFlags(VK_ACCESS_COLOR_ATTACHMENT_WRITE_BIT));
    // A second copy in the same layout needs nothing.
    EXPECT_FALSE(Plan(Target, CopyRead, true).m_Needed);

    // The next frame clears as it draws: the old contents go, but the draw
    // still waits for the copies that read them.
    const Dependency Next = Plan(Target, Draw, true, true);
    EXPECT_TRUE(Next.m_Needed);
    EXPECT_EQ(Next.m_OldLayout, VK_IMAGE_LAYOUT_UNDEFINED);
    EXPECT_EQ(Next.m_SourceStages, VkPipelineStageFlags(VK_PIPELINE_STAGE_TRANSFER_BIT));

    // A copy target later read by a shader: the read waits for the copy.
    AccessState Sample;
    Plan(Sample, CopyWrite, true, true);
    const Dependency Read = Plan(Sample, ShaderRead, true);
    EXPECT_TRUE(Read.m_Needed);
    EXPECT_EQ(Read.m_OldLayout, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL);
    EXPECT_EQ(Read.m_SourceAccess, VkAccessFlags(VK_ACCESS_TRANSFER_WRITE_BIT));
    EXPECT_EQ(Read.m_TargetStages, VkPipelineStageFlags(VK_PIPELINE_STAGE_COMPUTE_SHADER_BIT));
    // Overwriting it again waits for that read, in the copy's layout.
    const Dependency Again = Plan(Sample, CopyWrite, true, true);
    EXPECT_TRUE(Again.m_Needed);
    EXPECT_EQ(Again.m_SourceStages, VkPipelineStageFlags(VK_PIPELINE_STAGE_COMPUTE_SHADER_BIT));
    EXPECT_EQ(Again.m_NewLayout, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL);
    // Without discard the old contents keep their layout's meaning.
    AccessState Kept;
    Plan(Kept, CopyWrite, true, true);
    EXPECT_EQ(Plan(Kept, CopyRead, true).m_OldLayout, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL);
}

TEST(VulkanBarriers, ALayoutChangeWaitsForEveryReadSinceTheLastWrite)
{
    // Drawn, then read by two stages in the same layout; each layout change
    // after that rewrites the image under both readers.
    constexpr VkPipelineStageFlags Readers =
        VK_PIPELINE_STAGE_COMPUTE_SHADER_BIT | VK_PIPELINE_STAGE_FRAGMENT_SHADER_BIT;
    for (const bool Discard : {false, true})
    {
        AccessState Target;
        Plan(Target, Draw, true, true);
        Plan(Target, ShaderRead, true);
        const Dependency Raw = Plan(Target, FragmentRead, true);
        EXPECT_TRUE(Raw.m_Needed) << "the fragment stage reads what the change to its layout wrote";
        const Dependency Change = Plan(Target, Discard ? CopyWrite : CopyRead, true, Discard);
        EXPECT_TRUE(Change.m_Needed);
        EXPECT_EQ(Change.m_SourceStages & Readers, Readers) << (Discard ? "overwritten" : "copied out");
        EXPECT_EQ(Change.m_OldLayout, Discard ? VK_IMAGE_LAYOUT_UNDEFINED : VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL);
    }

    // A write that covers only part of the image keeps the rest: its layout
    // change starts from the layout the contents are in.
    AccessState Partial;
    Plan(Partial, CopyWrite, true, true);
    Plan(Partial, CopyRead, true);
    const Dependency Write = Plan(Partial, CopyWrite, true, false);
    EXPECT_EQ(Write.m_OldLayout, VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL);
    EXPECT_EQ(Write.m_NewLayout, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL);
    EXPECT_EQ(Write.m_SourceStages, VkPipelineStageFlags(VK_PIPELINE_STAGE_TRANSFER_BIT));
}

#include "Vulkan/CommandContext.h"
#include "Structure.h"
#include "AccessState.h"
#include "Barriers.h"
#include "ColorConversion.h"
#include "CommandStream.h"
#include "PipelineCache.h"
#include "UploadRing.h"

#include <algorithm>
#include <cstring>

namespace Platform::Vulkan {

namespace {

// Operations recorded before the stream submits by itself.
constexpr uint32_t OperationsPerBatch = 16;
constexpr VkDeviceSize ZeroBufferSize = 65536;

constexpr Access TransferRead = {VK_PIPELINE_STAGE_TRANSFER_BIT, VK_ACCESS_TRANSFER_READ_BIT,
                                 VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL};
constexpr Access TransferWrite = {VK_PIPELINE_STAGE_TRANSFER_BIT, VK_ACCESS_TRANSFER_WRITE_BIT,
                                  VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL};
// Render targets load (read) and store (write) in the colour-attachment stage.
constexpr Access Attachment = {VK_PIPELINE_STAGE_COLOR_ATTACHMENT_OUTPUT_BIT,
                               VK_ACCESS_COLOR_ATTACHMENT_READ_BIT | VK_ACCESS_COLOR_ATTACHMENT_WRITE_BIT,
                               VK_IMAGE_LAYOUT_COLOR_ATTACHMENT_OPTIMAL};

VkPipelineStageFlags PipelineStagesOf(VkShaderStageFlags Stages)
{
    VkPipelineStageFlags Result = 0;
    if (Stages & VK_SHADER_STAGE_VERTEX_BIT)
        Result |= VK_PIPELINE_STAGE_VERTEX_SHADER_BIT;
    if (Stages & VK_SHADER_STAGE_FRAGMENT_BIT)
        Result |= VK_PIPELINE_STAGE_FRAGMENT_SHADER_BIT;
    if (Stages & VK_SHADER_STAGE_COMPUTE_BIT)
        Result |= VK_PIPELINE_STAGE_COMPUTE_SHADER_BIT;
    return Result;
}

bool CoversImage(const Image& Target, const VkRect2D& Area)
{
    return Area.offset.x == 0 && Area.offset.y == 0 && Area.extent.width == Target.Width() &&
           Area.extent.height == Target.Height();
}

} // namespace

void DrawCall::Clear()
{
    m_Pipeline.m_Bindings.clear();
    m_Pipeline.m_Attributes.clear();
    m_Pipeline.m_ColorFormats.clear();
    m_Targets.clear();
    m_Vertices.clear();
    m_Uniforms.clear();
    m_Indices = {};
}

CommandContext::CommandContext(std::shared_ptr<Device> Device)
    : m_Device(Device),
      m_Stream(std::make_unique<CommandStream>(Device)),
      m_Pipelines(std::make_unique<PipelineCache>(Device)),
      m_Ring(std::make_unique<UploadRing>(Device)),
      m_Barriers(std::make_unique<BarrierBatch>())
{}

CommandContext::~CommandContext()
{
    EndRenderPass();
    m_Stream->Submit();
    m_Stream->WaitIdle();
}

VkResult CommandContext::Initialize(const std::vector<VkDescriptorSetLayoutBinding>& UniformBindings)
{
    VkResult Status = m_Stream->Initialize();
    if (Status == VK_SUCCESS)
        Status = m_Pipelines->Initialize(UniformBindings);
    if (Status == VK_SUCCESS)
        Status = Buffer::Create(m_Device, ZeroBufferSize,
                                VK_BUFFER_USAGE_UNIFORM_BUFFER_BIT | VK_BUFFER_USAGE_VERTEX_BUFFER_BIT,
                                Buffer::Access::HostWrite, m_ZeroBuffer);
    if (Status != VK_SUCCESS)
        return Status;
    std::memset(m_ZeroBuffer->Mapped(), 0, ZeroBufferSize);
    m_ZeroBuffer->FlushHostRange();
    const VkPhysicalDeviceLimits& Limits = m_Device->Adapter().m_Properties.limits;
    m_UploadAlignment =
        std::max<VkDeviceSize>({16, Limits.minUniformBufferOffsetAlignment, Limits.minStorageBufferOffsetAlignment});
    return VK_SUCCESS;
}

VkCommandBuffer CommandContext::BeginTransfer()
{
    EndRenderPass();
    return m_Stream->Commands();
}

void CommandContext::EndRenderPass()
{
    if (m_PassTargets.empty())
        return;
    if (VkCommandBuffer Commands = m_Stream->Commands())
        m_Device->m_CmdEndRendering(Commands);
    m_PassTargets.clear();
    m_PassPipeline = VK_NULL_HANDLE;
    // Draws held the batch back while the pass was open.
    if (m_Operations >= OperationsPerBatch)
    {
        m_Operations = 0;
        m_Stream->Submit();
    }
}

void CommandContext::Touch(const std::shared_ptr<Buffer>& Resource)
{
    Resource->m_State->m_LastUse = m_Stream->CurrentValue();
    m_Stream->Keep(Resource);
}

void CommandContext::Touch(const std::shared_ptr<Image>& Resource)
{
    Resource->m_State->m_LastUse = m_Stream->CurrentValue();
    m_Stream->Keep(Resource);
}

void CommandContext::OperationDone()
{
    if (++m_Operations < OperationsPerBatch || !m_PassTargets.empty())
        return;
    m_Operations = 0;
    m_Stream->Submit();
}

void CommandContext::Clear(const std::shared_ptr<Image>& Target, const VkClearColorValue& Color)
{
    // Earlier draws into the target come first.
    for (const std::shared_ptr<ImageView>& Open : m_PassTargets)
        if (Open->Target() == Target)
            EndRenderPass();
    Target->m_PendingClear = Color;
}

void CommandContext::ResolveClear(VkCommandBuffer Commands, const std::shared_ptr<Image>& Target)
{
    if (!Target->m_PendingClear)
        return;
    m_Barriers->Add(*Target, TransferWrite, true);
    m_Barriers->Record(Commands);
    const VkImageSubresourceRange Range = {VK_IMAGE_ASPECT_COLOR_BIT, 0, 1, 0, 1};
    vkCmdClearColorImage(Commands, Target->Handle(), VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, &*Target->m_PendingClear, 1,
                         &Range);
    Target->m_PendingClear.reset();
    Touch(Target);
}

void CommandContext::CopyImage(const std::shared_ptr<Image>& Source, const std::shared_ptr<Image>& Target,
                               std::span<const VkImageCopy> Regions, bool WholeTarget)
{
    const VkCommandBuffer Commands = BeginTransfer();
    if (!Commands)
        return;
    ResolveClear(Commands, Source);
    if (WholeTarget)
        Target->m_PendingClear.reset();
    else
        ResolveClear(Commands, Target);
    m_Barriers->Add(*Source, TransferRead);
    m_Barriers->Add(*Target, TransferWrite, WholeTarget);
    m_Barriers->Record(Commands);
    vkCmdCopyImage(Commands, Source->Handle(), VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL, Target->Handle(),
                   VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, static_cast<uint32_t>(Regions.size()), Regions.data());
    Touch(Source);
    Touch(Target);
    OperationDone();
}

void CommandContext::CopyImageToBuffer(const std::shared_ptr<Image>& Source, const BufferSlice& Target,
                                       std::span<const VkBufferImageCopy> Regions)
{
    const VkCommandBuffer Commands = BeginTransfer();
    if (!Commands)
        return;
    ResolveClear(Commands, Source);
    m_Barriers->Add(*Source, TransferRead);
    m_Barriers->Add(*Target.m_Buffer, TransferWrite);
    m_Barriers->Record(Commands);
    std::vector<VkBufferImageCopy> Shifted(Regions.begin(), Regions.end());
    for (VkBufferImageCopy& Region : Shifted)
        Region.bufferOffset += Target.m_Offset;
    vkCmdCopyImageToBuffer(Commands, Source->Handle(), VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL, Target.m_Buffer->Handle(),
                           static_cast<uint32_t>(Shifted.size()), Shifted.data());
    Touch(Source);
    Touch(Target.m_Buffer);
    OperationDone();
}

void CommandContext::CopyBufferToImage(const BufferSlice& Source, const std::shared_ptr<Image>& Target,
                                       std::span<const VkBufferImageCopy> Regions, bool WholeTarget)
{
    const VkCommandBuffer Commands = BeginTransfer();
    if (!Commands)
        return;
    if (WholeTarget)
        Target->m_PendingClear.reset();
    else
        ResolveClear(Commands, Target);
    m_Barriers->Add(*Source.m_Buffer, TransferRead);
    m_Barriers->Add(*Target, TransferWrite, WholeTarget);
    m_Barriers->Record(Commands);
    std::vector<VkBufferImageCopy> Shifted(Regions.begin(), Regions.end());
    for (VkBufferImageCopy& Region : Shifted)
        Region.bufferOffset += Source.m_Offset;
    vkCmdCopyBufferToImage(Commands, Source.m_Buffer->Handle(), Target->Handle(), VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL,
                           static_cast<uint32_t>(Shifted.size()), Shifted.data());
    Touch(Source.m_Buffer);
    Touch(Target);
    OperationDone();
}

void CommandContext::CopyBuffer(const BufferSlice& Source, const BufferSlice& Target,
                                std::span<const VkBufferCopy> Regions)
{
    const VkCommandBuffer Commands = BeginTransfer();
    if (!Commands)
        return;
    m_Barriers->Add(*Source.m_Buffer, TransferRead);
    m_Barriers->Add(*Target.m_Buffer, TransferWrite);
    m_Barriers->Record(Commands);
    std::vector<VkBufferCopy> Shifted(Regions.begin(), Regions.end());
    for (VkBufferCopy& Region : Shifted)
    {
        Region.srcOffset += Source.m_Offset;
        Region.dstOffset += Target.m_Offset;
    }
    vkCmdCopyBuffer(Commands, Source.m_Buffer->Handle(), Target.m_Buffer->Handle(),
                    static_cast<uint32_t>(Shifted.size()), Shifted.data());
    Touch(Source.m_Buffer);
    Touch(Target.m_Buffer);
    OperationDone();
}

void CommandContext::FillBuffer(const BufferSlice& Target, uint32_t Value)
{
    const VkCommandBuffer Commands = BeginTransfer();
    if (!Commands)
        return;
    m_Barriers->Add(*Target.m_Buffer, TransferWrite);
    m_Barriers->Record(Commands);
    vkCmdFillBuffer(Commands, Target.m_Buffer->Handle(), Target.m_Offset, Target.m_Size & ~VkDeviceSize(3), Value);
    Touch(Target.m_Buffer);
    OperationDone();
}

VkResult CommandContext::Upload(VkDeviceSize Size, BufferSlice& Result)
{
    VkResult Status = m_Device->RemovedReason();
    if (Status != VK_SUCCESS)
        return Status;
    if (Size > UploadRing::ChunkSize / 4)
    {
        // Large uploads (initial data of big textures) get memory of their
        // own, which goes with the batch that reads it, rather than a chunk
        // that the ring would keep.
        std::shared_ptr<Buffer> Dedicated;
        Status = Buffer::Create(m_Device, Size, UploadRing::Usage, Buffer::Access::HostWrite, Dedicated);
        if (Status == VK_SUCCESS)
            Result = {std::move(Dedicated), 0, Size};
        return Status;
    }
    Status = m_Ring->Allocate(Size, m_UploadAlignment, Result);
    if (Status != VK_SUCCESS && m_Stream->HasWork())
    {
        // Out of memory for a new chunk: finish what is recorded, and retry
        // once the ring's older chunks are free.
        EndRenderPass();
        m_Stream->Submit();
        m_Stream->WaitIdle();
        Status = m_Ring->Allocate(Size, m_UploadAlignment, Result);
    }
    return Status;
}

void CommandContext::PrepareHostRead(const std::shared_ptr<Buffer>& Target)
{
    constexpr Access HostRead = {VK_PIPELINE_STAGE_HOST_BIT, VK_ACCESS_HOST_READ_BIT};
    if (!NeedsBarrier(*Target->m_State, HostRead, false))
        return;
    const VkCommandBuffer Commands = BeginTransfer();
    if (!Commands)
        return;
    m_Barriers->Add(*Target, HostRead);
    m_Barriers->Record(Commands);
    Touch(Target);
}

void CommandContext::ReleaseToExternal(const std::shared_ptr<Buffer>& Target)
{
    if (!Target->m_State->m_Released)
        TransferOwnership(Target, true);
}

void CommandContext::AcquireFromExternal(const std::shared_ptr<Buffer>& Target)
{
    if (Target->m_State->m_Released)
        TransferOwnership(Target, false);
}

void CommandContext::TransferOwnership(const std::shared_ptr<Buffer>& Target, bool Release)
{
    const VkCommandBuffer Commands = BeginTransfer();
    if (!Commands)
        return;
    AccessState& State = *Target->m_State;
    auto Barrier = Vulkan::Describe<VkBufferMemoryBarrier>(VK_STRUCTURE_TYPE_BUFFER_MEMORY_BARRIER);
    Barrier.buffer = Target->Handle();
    Barrier.offset = 0;
    Barrier.size = VK_WHOLE_SIZE;
    VkPipelineStageFlags SourceStages = VK_PIPELINE_STAGE_TOP_OF_PIPE_BIT;
    VkPipelineStageFlags TargetStages = VK_PIPELINE_STAGE_BOTTOM_OF_PIPE_BIT;
    if (Release)
    {
        // After every use here; what the other side does, the other side waits for.
        Barrier.srcQueueFamilyIndex = m_Device->QueueFamily();
        Barrier.dstQueueFamilyIndex = VK_QUEUE_FAMILY_EXTERNAL;
        Barrier.srcAccessMask = State.m_WriteAccess;
        if (State.m_WriteStages | State.m_ReadStages)
            SourceStages = State.m_WriteStages | State.m_ReadStages;
    }
    else
    {
        // Before every later use: its second scope is all of them, so the
        // buffer needs no barrier of its own until it is written again.
        Barrier.srcQueueFamilyIndex = VK_QUEUE_FAMILY_EXTERNAL;
        Barrier.dstQueueFamilyIndex = m_Device->QueueFamily();
        Barrier.dstAccessMask = VK_ACCESS_MEMORY_READ_BIT | VK_ACCESS_MEMORY_WRITE_BIT;
        TargetStages = VK_PIPELINE_STAGE_ALL_COMMANDS_BIT;
    }
    vkCmdPipelineBarrier(Commands, SourceStages, TargetStages, 0, 0, nullptr, 1, &Barrier, 0, nullptr);
    const uint64_t LastUse = State.m_LastUse;
    State = AccessState{};
    State.m_LastUse = LastUse;
    State.m_Released = Release;
    Touch(Target);
}

void CommandContext::PrepareHostRead(const std::shared_ptr<Image>& Target)
{
    constexpr Access HostRead = {VK_PIPELINE_STAGE_HOST_BIT, VK_ACCESS_HOST_READ_BIT, VK_IMAGE_LAYOUT_GENERAL};
    if (!Target->m_PendingClear && !NeedsBarrier(*Target->m_State, HostRead, true))
        return;
    const VkCommandBuffer Commands = BeginTransfer();
    if (!Commands)
        return;
    ResolveClear(Commands, Target);
    m_Barriers->Add(*Target, HostRead);
    m_Barriers->Record(Commands);
    Touch(Target);
}

VkResult CommandContext::ConvertToNv12(const std::shared_ptr<Image>& Source, const BufferSlice& Target,
                                       const Nv12Planes& Planes)
{
    if (!ConvertsToNv12(Source->Format()) || !Source->ReadView() || Target.m_Offset % m_UploadAlignment)
        return VK_ERROR_VALIDATION_FAILED_EXT;
    if (!m_Conversion)
    {
        auto Created = std::make_unique<ColorConversion>(m_Device);
        const VkResult Status = Created->Initialize();
        if (Status != VK_SUCCESS)
            return Status;
        m_Conversion = std::move(Created);
    }
    const VkCommandBuffer Commands = BeginTransfer();
    if (!Commands)
        return m_Device->RemovedReason();
    ResolveClear(Commands, Source);
    constexpr Access ShaderRead = {VK_PIPELINE_STAGE_COMPUTE_SHADER_BIT, VK_ACCESS_SHADER_READ_BIT,
                                   VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL};
    constexpr Access ShaderWrite = {VK_PIPELINE_STAGE_COMPUTE_SHADER_BIT, VK_ACCESS_SHADER_WRITE_BIT};
    m_Barriers->Add(*Source, ShaderRead);
    m_Barriers->Add(*Target.m_Buffer, ShaderWrite);
    m_Barriers->Record(Commands);
    m_Conversion->Record(Commands, Source->ReadView(), Target.m_Buffer->Handle(), Target.m_Offset, Planes);
    Touch(Source);
    Touch(Target.m_Buffer);
    OperationDone();
    return VK_SUCCESS;
}

void CommandContext::AddReads(const DrawCall& Call, std::vector<std::pair<Buffer*, Access>>& Reads) const
{
    Reads.clear();
    for (const VertexStream& Stream : Call.m_Vertices)
        Reads.push_back({Stream.m_Buffer.m_Buffer.get(),
                         {VK_PIPELINE_STAGE_VERTEX_INPUT_BIT, VK_ACCESS_VERTEX_ATTRIBUTE_READ_BIT}});
    if (Call.m_Indices.m_Buffer)
        Reads.push_back(
            {Call.m_Indices.m_Buffer.get(), {VK_PIPELINE_STAGE_VERTEX_INPUT_BIT, VK_ACCESS_INDEX_READ_BIT}});
    for (const UniformBuffer& Uniform : Call.m_Uniforms)
        Reads.push_back({Uniform.m_Buffer.m_Buffer.get(),
                         {PipelineStagesOf(m_Pipelines->StagesOf(Uniform.m_Binding)), VK_ACCESS_UNIFORM_READ_BIT}});
}

bool CommandContext::PassFits(const DrawCall& Call, const std::vector<std::pair<Buffer*, Access>>& Reads) const
{
    // Barriers cannot go inside a render pass: a read that needs one ends it.
    if (m_PassTargets != Call.m_Targets)
        return false;
    for (const auto& [Resource, Use] : Reads)
        if (NeedsBarrier(*Resource->m_State, Use, false))
            return false;
    return true;
}

VkCommandBuffer CommandContext::BeginPass(const DrawCall& Call, const std::vector<std::pair<Buffer*, Access>>& Reads)
{
    const VkCommandBuffer Commands = BeginTransfer();
    if (!Commands)
        return VK_NULL_HANDLE;
    VkRect2D Area = {{0, 0}, {UINT32_MAX, UINT32_MAX}};
    for (const std::shared_ptr<ImageView>& Target : Call.m_Targets)
    {
        Area.extent.width = std::min(Area.extent.width, Target->Target()->Width());
        Area.extent.height = std::min(Area.extent.height, Target->Target()->Height());
    }
    std::vector<VkRenderingAttachmentInfo> Attachments;
    for (const std::shared_ptr<ImageView>& Target : Call.m_Targets)
    {
        const std::shared_ptr<Image>& Picture = Target->Target();
        // A clear waiting on the whole target becomes the pass's load
        // operation; one that the pass would not cover is done first.
        if (!CoversImage(*Picture, Area))
            ResolveClear(Commands, Picture);
        const bool Clears = Picture->m_PendingClear.has_value();
        m_Barriers->Add(*Picture, Attachment, Clears);
        auto Info = Vulkan::Describe<VkRenderingAttachmentInfo>(VK_STRUCTURE_TYPE_RENDERING_ATTACHMENT_INFO);
        Info.imageView = Target->Handle();
        Info.imageLayout = VK_IMAGE_LAYOUT_COLOR_ATTACHMENT_OPTIMAL;
        Info.loadOp = Clears ? VK_ATTACHMENT_LOAD_OP_CLEAR : VK_ATTACHMENT_LOAD_OP_LOAD;
        Info.storeOp = VK_ATTACHMENT_STORE_OP_STORE;
        if (Clears)
            Info.clearValue.color = *Picture->m_PendingClear;
        Picture->m_PendingClear.reset();
        Attachments.push_back(Info);
    }
    for (const auto& [Resource, Use] : Reads)
        m_Barriers->Add(*Resource, Use);
    m_Barriers->Record(Commands);

    auto Rendering = Vulkan::Describe<VkRenderingInfo>(VK_STRUCTURE_TYPE_RENDERING_INFO);
    Rendering.renderArea = Area;
    Rendering.layerCount = 1;
    Rendering.colorAttachmentCount = static_cast<uint32_t>(Attachments.size());
    Rendering.pColorAttachments = Attachments.data();
    m_Device->m_CmdBeginRendering(Commands, &Rendering);
    vkCmdSetScissor(Commands, 0, 1, &Area);
    m_PassTargets = Call.m_Targets;
    return Commands;
}

void CommandContext::BindAndDraw(VkCommandBuffer Commands, const DrawCall& Call, VkPipeline Pipeline)
{
    if (m_PassPipeline != Pipeline)
    {
        vkCmdBindPipeline(Commands, VK_PIPELINE_BIND_POINT_GRAPHICS, Pipeline);
        m_PassPipeline = Pipeline;
    }
    vkCmdSetViewport(Commands, 0, 1, &Call.m_Viewport);
    if (!Call.m_Uniforms.empty())
    {
        const VkDeviceSize Largest = m_Device->Adapter().m_Properties.limits.maxUniformBufferRange;
        std::vector<VkDescriptorBufferInfo> Infos(Call.m_Uniforms.size());
        std::vector<VkWriteDescriptorSet> Writes(Call.m_Uniforms.size());
        for (size_t Index = 0; Index < Call.m_Uniforms.size(); ++Index)
        {
            const BufferSlice& Slice = Call.m_Uniforms[Index].m_Buffer;
            Infos[Index] = {Slice.m_Buffer->Handle(), Slice.m_Offset, std::min(Slice.m_Size, Largest)};
            Writes[Index] = Vulkan::Describe<VkWriteDescriptorSet>(VK_STRUCTURE_TYPE_WRITE_DESCRIPTOR_SET);
            Writes[Index].dstBinding = Call.m_Uniforms[Index].m_Binding;
            Writes[Index].descriptorCount = 1;
            Writes[Index].descriptorType = VK_DESCRIPTOR_TYPE_UNIFORM_BUFFER;
            Writes[Index].pBufferInfo = &Infos[Index];
        }
        m_Device->m_CmdPushDescriptorSet(Commands, VK_PIPELINE_BIND_POINT_GRAPHICS, m_Pipelines->Layout(), 0,
                                         static_cast<uint32_t>(Writes.size()), Writes.data());
    }
    for (const VertexStream& Stream : Call.m_Vertices)
    {
        const VkBuffer Handle = Stream.m_Buffer.m_Buffer->Handle();
        const VkDeviceSize Offset = Stream.m_Buffer.m_Offset + Stream.m_Offset;
        vkCmdBindVertexBuffers(Commands, Stream.m_Binding, 1, &Handle, &Offset);
    }
    if (Call.m_Indices.m_Buffer)
    {
        vkCmdBindIndexBuffer(Commands, Call.m_Indices.m_Buffer->Handle(), Call.m_Indices.m_Offset + Call.m_IndexOffset,
                             Call.m_IndexType);
        vkCmdDrawIndexed(Commands, Call.m_Count, 1, Call.m_First, Call.m_VertexOffset, 0);
    }
    else
        vkCmdDraw(Commands, Call.m_Count, 1, Call.m_First, 0);
}

bool CommandContext::Draw(const DrawCall& Call)
{
    if (Call.m_Targets.empty() || Call.m_Count == 0)
        return false;
    VkPipeline Pipeline = VK_NULL_HANDLE;
    if (m_Pipelines->Get(Call.m_Pipeline, Pipeline) != VK_SUCCESS)
        return false;
    AddReads(Call, m_Reads);
    VkCommandBuffer Commands = PassFits(Call, m_Reads) ? m_Stream->Commands() : BeginPass(Call, m_Reads);
    if (!Commands)
        return false;
    BindAndDraw(Commands, Call, Pipeline);
    for (const std::shared_ptr<ImageView>& Target : Call.m_Targets)
    {
        Touch(Target->Target());
        m_Stream->Keep(Target);
    }
    for (const VertexStream& Stream : Call.m_Vertices)
        Touch(Stream.m_Buffer.m_Buffer);
    for (const UniformBuffer& Uniform : Call.m_Uniforms)
        Touch(Uniform.m_Buffer.m_Buffer);
    if (Call.m_Indices.m_Buffer)
        Touch(Call.m_Indices.m_Buffer);
    // Reads inside the pass: noted, so that a later writer waits for them.
    for (const auto& [Resource, Use] : m_Reads)
        Plan(*Resource->m_State, Use, false);
    OperationDone();
    return true;
}

VkResult CommandContext::SubmitUpTo(uint64_t LastUse, bool Wait)
{
    if (LastUse >= m_Stream->CurrentValue() && m_Stream->HasWork())
    {
        EndRenderPass();
        m_Operations = 0;
        const VkResult Submitted = m_Stream->Submit();
        if (Submitted != VK_SUCCESS)
            return Submitted;
    }
    if (!Wait || LastUse == 0)
        return m_Device->RemovedReason();
    return m_Stream->Wait(LastUse);
}

bool CommandContext::HasCompleted(uint64_t LastUse) const
{
    return LastUse < m_Stream->CurrentValue() && m_Stream->CompletedValue() >= LastUse;
}

bool CommandContext::ConvertsToNv12(VkFormat Format) { return ColorConversion::Converts(Format); }

VkResult CommandContext::Wait(uint64_t Value) { return m_Stream->Wait(Value); }

uint64_t CommandContext::CurrentValue() const { return m_Stream->CurrentValue(); }

uint64_t CommandContext::BusyTime()
{
    m_Stream->Retire();
    return m_Stream->BusyTime();
}

VkResult CommandContext::ExportTimeline(int& Descriptor) const { return m_Stream->ExportTimeline(Descriptor); }

VkResult CommandContext::WaitForHostAccess(const Buffer& Resource, bool Wait)
{
    const uint64_t LastUse = Resource.m_State->m_LastUse;
    if (!Wait && !HasCompleted(LastUse))
    {
        SubmitUpTo(LastUse, false);
        return VK_NOT_READY;
    }
    return SubmitUpTo(LastUse, true);
}

VkResult CommandContext::SubmitUses(const Buffer& Resource, uint64_t& Batch)
{
    return SubmitThrough(Resource.m_State->m_LastUse, Batch);
}

VkResult CommandContext::SubmitUses(const Image& Resource, uint64_t& Batch)
{
    return SubmitThrough(Resource.m_State->m_LastUse, Batch);
}

VkResult CommandContext::SubmitThrough(uint64_t LastUse, uint64_t& Batch)
{
    // A resource that nothing used: what is recorded so far, which may be
    // nothing more than what is submitted already.
    const VkResult Status = SubmitUpTo(LastUse ? LastUse : m_Stream->CurrentValue(), false);
    if (Status == VK_SUCCESS)
        Batch = LastUse ? LastUse : m_Stream->CurrentValue() - 1;
    return Status;
}

} // namespace Platform::Vulkan

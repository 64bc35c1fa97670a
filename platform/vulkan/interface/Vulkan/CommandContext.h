// The one place where a device's commands are recorded. Each operation names
// the resources it touches; the context knows how every resource was last
// used (its layout, its last write, the reads since) and records only the
// barriers that those resources need, with the stages and accesses of this
// operation. Render targets are drawn in the colour-attachment layout and
// copied in the transfer layouts; small updates go through an upload ring, so
// that updating a constant buffer never waits for earlier work.
//
// Not thread-safe: the owner's lock serialises every call except Wait.
#pragma once

#include <memory>
#include <span>
#include <vector>

#include "Barriers.h"
#include "ColorConversion.h"
#include "CommandStream.h"
#include "Memory.h"
#include "PipelineCache.h"
#include "UploadRing.h"

namespace Platform::Vulkan {

struct VertexStream
{
    uint32_t m_Binding = 0;
    BufferSlice m_Buffer;
    VkDeviceSize m_Offset = 0; // within the slice
};

struct UniformBuffer
{
    uint32_t m_Binding = 0;
    BufferSlice m_Buffer;
};

// One draw: the pipeline, the targets and everything it reads.
struct DrawCall
{
    PipelineDescription m_Pipeline;
    std::vector<std::shared_ptr<ImageView>> m_Targets;
    VkViewport m_Viewport = {};
    std::vector<VertexStream> m_Vertices;
    std::vector<UniformBuffer> m_Uniforms;
    BufferSlice m_Indices; // none: a draw without indices
    VkDeviceSize m_IndexOffset = 0;
    VkIndexType m_IndexType = VK_INDEX_TYPE_UINT16;
    uint32_t m_Count = 0;
    uint32_t m_First = 0;
    int32_t m_VertexOffset = 0;

    void Clear();
};

class CommandContext
{
public:
    explicit CommandContext(std::shared_ptr<Device> Device);
    // Submits what is recorded and waits for all of it.
    ~CommandContext();
    CommandContext(const CommandContext&) = delete;
    CommandContext& operator=(const CommandContext&) = delete;

    // UniformBindings: the uniform buffers that draws may bind.
    HRESULT Initialize(const std::vector<VkDescriptorSetLayoutBinding>& UniformBindings);

    const std::shared_ptr<Device>& Owner() const { return m_Device; }
    // Zeros, for what a draw reads but nothing is bound to.
    const std::shared_ptr<Buffer>& ZeroBuffer() const { return m_ZeroBuffer; }

    // A clear of the whole image, done by its next use: a render pass clears
    // as it loads, anything else records it first.
    void Clear(const std::shared_ptr<Image>& Target, const VkClearColorValue& Color);
    // Copies. Buffer offsets in the regions count from the slices' starts.
    // WholeTarget: the copy overwrites all of the target.
    void CopyImage(const std::shared_ptr<Image>& Source, const std::shared_ptr<Image>& Target,
                   std::span<const VkImageCopy> Regions, bool WholeTarget);
    void CopyImageToBuffer(const std::shared_ptr<Image>& Source, const BufferSlice& Target,
                           std::span<const VkBufferImageCopy> Regions);
    void CopyBufferToImage(const BufferSlice& Source, const std::shared_ptr<Image>& Target,
                           std::span<const VkBufferImageCopy> Regions, bool WholeTarget);
    void CopyBuffer(const BufferSlice& Source, const BufferSlice& Target, std::span<const VkBufferCopy> Regions);
    void FillBuffer(const BufferSlice& Target, uint32_t Value);
    // A fresh range of the upload ring, for the host to write and the device
    // to read (uniforms, vertices, indices, copy sources); large ones get
    // memory of their own.
    HRESULT Upload(VkDeviceSize Size, BufferSlice& Result);
    // False when the call cannot be drawn (nothing is recorded then).
    bool Draw(const DrawCall& Call);
    // Source (8-bit RGB, sampled) into NV12 planes in Target.
    HRESULT ConvertToNv12(const std::shared_ptr<Image>& Source, const BufferSlice& Target, const Nv12Planes& Planes);
    // Makes the device's writes to Target visible to the host once the
    // current batch has completed.
    void PrepareHostRead(const std::shared_ptr<Buffer>& Target);
    // Exported buffers: hands Target over to the API that imported its
    // memory (the external queue family) after the writes recorded so far,
    // and takes it back before its next use here. Acquiring a buffer that
    // was not released records nothing.
    void ReleaseToExternal(const std::shared_ptr<Buffer>& Target);
    void AcquireFromExternal(const std::shared_ptr<Buffer>& Target);
    // The same for a host-placed image, which it leaves in the general layout.
    void PrepareHostRead(const std::shared_ptr<Image>& Target);

    // Submits what is recorded, if LastUse is not submitted yet; with Wait,
    // waits until LastUse has completed.
    HRESULT SubmitUpTo(uint64_t LastUse, bool Wait);
    HRESULT Flush() { return SubmitUpTo(m_Stream.CurrentValue(), false); }
    bool HasCompleted(uint64_t LastUse) const;
    // Waits for a batch; any thread, without the owner's lock.
    HRESULT Wait(uint64_t Value) { return m_Stream.Wait(Value); }
    // The batch that operations recorded now belong to.
    uint64_t CurrentValue() const { return m_Stream.CurrentValue(); }
    // Ends the render pass being recorded, if any.
    void EndRenderPass();

    CommandStream& Stream() { return m_Stream; }
    const UploadRing& Ring() const { return m_Ring; }

private:
    // The command buffer for an operation outside render passes; null when
    // the device cannot record.
    VkCommandBuffer BeginTransfer();
    // Records Image's pending clear, if any.
    void ResolveClear(VkCommandBuffer Commands, const std::shared_ptr<Image>& Target);
    // Keeps the resource alive until the current batch completes and notes
    // the batch as its last use.
    void Touch(const std::shared_ptr<Buffer>& Resource);
    void Touch(const std::shared_ptr<Image>& Resource);
    // Records one ownership transfer of Target between this queue's family
    // and the external one.
    void TransferOwnership(const std::shared_ptr<Buffer>& Target, bool Release);
    // Counts an operation and submits now and then, so that the device works
    // while the owner records.
    void OperationDone();

    // Draw's parts.
    void AddReads(const DrawCall& Call, std::vector<std::pair<Buffer*, Access>>& Reads) const;
    bool PassFits(const DrawCall& Call, const std::vector<std::pair<Buffer*, Access>>& Reads) const;
    VkCommandBuffer BeginPass(const DrawCall& Call, const std::vector<std::pair<Buffer*, Access>>& Reads);
    void BindAndDraw(VkCommandBuffer Commands, const DrawCall& Call, VkPipeline Pipeline);

    std::shared_ptr<Device> m_Device;
    CommandStream m_Stream;
    PipelineCache m_Pipelines;
    UploadRing m_Ring;
    std::unique_ptr<ColorConversion> m_Conversion;
    std::shared_ptr<Buffer> m_ZeroBuffer;
    BarrierBatch m_Barriers;
    VkDeviceSize m_UploadAlignment = 16;
    uint32_t m_Operations = 0;

    // The render pass being recorded, if any, and the pipeline bound in it.
    std::vector<std::shared_ptr<ImageView>> m_PassTargets;
    VkPipeline m_PassPipeline = VK_NULL_HANDLE;
    std::vector<std::pair<Buffer*, Access>> m_Reads; // Draw's scratch
};

} // namespace Platform::Vulkan

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

#include <vulkan/vulkan.h>

#include "Memory.h"
#include "Operations.h"

namespace Platform::Vulkan {

// The context's own parts.
struct Access;
class BarrierBatch;
class ColorConversion;
class CommandStream;
class PipelineCache;
class UploadRing;

class CommandContext
{
public:
    explicit CommandContext(std::shared_ptr<Device> Device);
    // Submits what is recorded and waits for all of it.
    ~CommandContext();
    CommandContext(const CommandContext&) = delete;
    CommandContext& operator=(const CommandContext&) = delete;

    // UniformBindings: the uniform buffers that draws may bind.
    VkResult Initialize(const std::vector<VkDescriptorSetLayoutBinding>& UniformBindings);

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
    // Copies of Extent pixels, plane by plane, each plane's share shrunk by
    // its subsampling (chroma planes of 4:2:0 formats: by half). Planes: how
    // the image's planes lie in the buffer. A copy that covers all of the
    // target image overwrites it.
    void CopyPixels(const std::shared_ptr<Image>& Source, VkOffset2D From, const std::shared_ptr<Image>& Target,
                    VkOffset2D To, VkExtent2D Extent);
    void CopyPixels(const std::shared_ptr<Image>& Source, VkOffset2D From, const BufferSlice& Target,
                    std::span<const HostPlane> Planes, VkOffset2D To, VkExtent2D Extent);
    void CopyPixels(const BufferSlice& Source, std::span<const HostPlane> Planes, VkOffset2D From,
                    const std::shared_ptr<Image>& Target, VkOffset2D To, VkExtent2D Extent);
    void CopyBuffer(const BufferSlice& Source, const BufferSlice& Target, std::span<const VkBufferCopy> Regions);
    void FillBuffer(const BufferSlice& Target, uint32_t Value);
    // A fresh range of the upload ring, for the host to write and the device
    // to read (uniforms, vertices, indices, copy sources); large ones get
    // memory of their own.
    VkResult Upload(VkDeviceSize Size, BufferSlice& Result);
    // False when the call cannot be drawn (nothing is recorded then).
    bool Draw(const DrawCall& Call);
    // Whether images of Format convert to NV12: 8-bit RGB that a sampler
    // returns as it is stored.
    static bool ConvertsToNv12(VkFormat Format);
    // Source (8-bit RGB, sampled) into NV12 planes in Target.
    VkResult ConvertToNv12(const std::shared_ptr<Image>& Source, const BufferSlice& Target, const Nv12Planes& Planes);
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
    VkResult SubmitUpTo(uint64_t LastUse, bool Wait);
    VkResult Flush() { return SubmitUpTo(CurrentValue(), false); }
    bool HasCompleted(uint64_t LastUse) const;
    // Host access to Resource's memory: submits what is recorded up to its
    // last use and waits until the device is done with it; without Wait,
    // VK_NOT_READY while the device still uses it.
    VkResult WaitForHostAccess(const Buffer& Resource, bool Wait = true);
    // Submits what is recorded up to Resource's last use, for a Wait later
    // (without the owner's lock): Batch is the batch to wait for; where
    // nothing used Resource yet, the last batch submitted.
    VkResult SubmitUses(const Buffer& Resource, uint64_t& Batch);
    VkResult SubmitUses(const Image& Resource, uint64_t& Batch);
    // Waits for a batch; any thread, without the owner's lock.
    VkResult Wait(uint64_t Value);
    // The batch that operations recorded now belong to.
    uint64_t CurrentValue() const;
    // Ends the render pass being recorded, if any.
    void EndRenderPass();

    // Nanoseconds the device spent on the batches completed so far (0 where
    // its queue has no timestamps).
    uint64_t BusyTime();
    // A new file descriptor of the semaphore that counts the batches, for
    // another API that waits for them on its own device queue (the caller
    // owns it); VK_ERROR_FEATURE_NOT_PRESENT where the device cannot export
    // it.
    VkResult ExportTimeline(int& Descriptor) const;

    // The context's own parts, for the back end and its tests.
    CommandStream& Stream() { return *m_Stream; }
    const UploadRing& Ring() const { return *m_Ring; }

private:
    // The command buffer for an operation outside render passes; null when
    // the device cannot record.
    VkCommandBuffer BeginTransfer();
    // SubmitUses for a resource last used in LastUse.
    VkResult SubmitThrough(uint64_t LastUse, uint64_t& Batch);
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
    std::unique_ptr<CommandStream> m_Stream;
    std::unique_ptr<PipelineCache> m_Pipelines;
    std::unique_ptr<UploadRing> m_Ring;
    std::unique_ptr<ColorConversion> m_Conversion;
    std::shared_ptr<Buffer> m_ZeroBuffer;
    std::unique_ptr<BarrierBatch> m_Barriers;
    VkDeviceSize m_UploadAlignment = 16;
    uint32_t m_Operations = 0;

    // The render pass being recorded, if any, and the pipeline bound in it.
    std::vector<std::shared_ptr<ImageView>> m_PassTargets;
    VkPipeline m_PassPipeline = VK_NULL_HANDLE;
    std::vector<std::pair<Buffer*, Access>> m_Reads; // Draw's scratch
};

} // namespace Platform::Vulkan

// The command context: the barriers before copies, small uploads through
// the ring, the host's access to what the device wrote, and waits that end
// when the device stops working.

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include <dlfcn.h>

#include <gtest/gtest.h>

#include "platform/vulkan/SoftwareContext.h"
#include "vulkan/AccessState.h"
#include "vulkan/CommandStream.h"
#include "vulkan/Structure.h"
#include "vulkan/UploadRing.h"

namespace {

using Platform::Vulkan::Buffer;
using Platform::Vulkan::BufferSlice;
using Platform::Vulkan::Image;

// The image barriers recorded while a test looks. Lavapipe keeps an image's
// contents through any layout change, so only the barriers show a change
// that would drop them on other devices.
std::vector<VkImageMemoryBarrier>* RecordedImageBarriers = nullptr;

// The old layouts that the barriers recorded for Image changed it from.
std::vector<VkImageLayout> OldLayoutsOf(const std::vector<VkImageMemoryBarrier>& Barriers, VkImage Image)
{
    std::vector<VkImageLayout> Layouts;
    for (const VkImageMemoryBarrier& Barrier : Barriers)
        if (Barrier.image == Image && Barrier.oldLayout != Barrier.newLayout)
            Layouts.push_back(Barrier.oldLayout);
    return Layouts;
}

constexpr VkImageSubresourceLayers Color = {VK_IMAGE_ASPECT_COLOR_BIT, 0, 0, 1};

std::vector<uint8_t> Filled(size_t Size, uint8_t Value) { return std::vector<uint8_t>(Size, Value); }

} // namespace

// The platform's barriers pass through here on their way to the loader.
extern "C" VKAPI_ATTR void VKAPI_CALL
vkCmdPipelineBarrier(VkCommandBuffer Commands, VkPipelineStageFlags SourceStages, VkPipelineStageFlags TargetStages,
                     VkDependencyFlags Flags, uint32_t MemoryBarrierCount, const VkMemoryBarrier* MemoryBarriers,
                     uint32_t BufferBarrierCount, const VkBufferMemoryBarrier* BufferBarriers,
                     uint32_t ImageBarrierCount, const VkImageMemoryBarrier* ImageBarriers)
{
    static const auto Real = reinterpret_cast<PFN_vkCmdPipelineBarrier>(dlsym(RTLD_NEXT, "vkCmdPipelineBarrier"));
    if (RecordedImageBarriers)
        RecordedImageBarriers->insert(RecordedImageBarriers->end(), ImageBarriers, ImageBarriers + ImageBarrierCount);
    Real(Commands, SourceStages, TargetStages, Flags, MemoryBarrierCount, MemoryBarriers, BufferBarrierCount,
         BufferBarriers, ImageBarrierCount, ImageBarriers);
}

TEST(VulkanCommandContext, APartialCopyChangesLayoutWithoutDroppingTheContents)
{
    Testing::SoftwareContext Context;
    ASSERT_TRUE(Context.m_Commands);
    Platform::Vulkan::CommandContext& Commands = *Context.m_Commands;
    const auto Source = Context.MakeImage(VK_FORMAT_B8G8R8A8_UNORM, 8, 8, Filled(256, 0x66));
    const auto Target = Context.MakeImage(VK_FORMAT_B8G8R8A8_UNORM, 8, 8, {});
    const auto Host = Context.MakeHostBuffer(256);
    ASSERT_TRUE(Source && Target && Host);
    BufferSlice Texels;
    ASSERT_EQ(Commands.Upload(256, Texels), VK_SUCCESS);
    std::memset(Texels.Host(), 0x33, 256);
    Texels.m_Buffer->FlushHostRange();

    std::vector<VkImageMemoryBarrier> Barriers;
    RecordedImageBarriers = &Barriers;
    // A whole write may drop what was there.
    const VkBufferImageCopy Whole = {0, 0, 0, Color, {0, 0, 0}, {8, 8, 1}};
    Commands.CopyBufferToImage(Texels, Target, {&Whole, 1}, true);
    EXPECT_EQ(OldLayoutsOf(Barriers, Target->Handle()), std::vector<VkImageLayout>{VK_IMAGE_LAYOUT_UNDEFINED});

    // Read (copied out), then written in part, by a copy and by an upload:
    // each change back to the copy target's layout keeps the contents.
    Commands.CopyImageToBuffer(Target, BufferSlice::Whole(Host), {&Whole, 1});
    Barriers.clear();
    Commands.CopyPixels(Source, {0, 0}, Target, {2, 2}, {4, 4});
    EXPECT_EQ(OldLayoutsOf(Barriers, Target->Handle()),
              std::vector<VkImageLayout>{VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL})
        << "a partial copy";
    Commands.CopyImageToBuffer(Target, BufferSlice::Whole(Host), {&Whole, 1});
    Barriers.clear();
    const Platform::Vulkan::HostPlane Rows = {0, 32, 4};
    Commands.CopyPixels(Texels, {&Rows, 1}, {0, 0}, Target, {0, 7}, {8, 1});
    EXPECT_EQ(OldLayoutsOf(Barriers, Target->Handle()),
              std::vector<VkImageLayout>{VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL})
        << "a partial upload";
    RecordedImageBarriers = nullptr;

    // The corner from the source, the rest as first written.
    const std::vector<uint8_t> Pixels = Context.Read(Target);
    for (uint32_t Y = 0; Y < 8; ++Y)
        for (uint32_t X = 0; X < 8; ++X)
        {
            const bool Copied = X >= 2 && X < 6 && Y >= 2 && Y < 6;
            EXPECT_EQ(Pixels[(Y * 8 + X) * 4], Copied ? 0x66 : 0x33) << X << "," << Y;
        }
}

TEST(VulkanCommandContext, UploadsTakeFreshRangesThatComeBack)
{
    Testing::SoftwareContext Context;
    ASSERT_TRUE(Context.m_Commands);
    Platform::Vulkan::CommandContext& Commands = *Context.m_Commands;
    BufferSlice First, Second;
    ASSERT_EQ(Commands.Upload(208, First), VK_SUCCESS);
    ASSERT_EQ(Commands.Upload(208, Second), VK_SUCCESS);
    EXPECT_TRUE(First.m_Buffer != Second.m_Buffer || First.m_Offset + First.m_Size <= Second.m_Offset);
    EXPECT_NE(First.Host(), nullptr) << "host-written memory";

    // Far more uploads than a chunk holds, some read by a copy: the ring
    // reuses what the device is done with.
    const auto Target = Context.MakeHostBuffer(208);
    for (int Index = 0; Index < 20000; ++Index)
    {
        BufferSlice Upload;
        ASSERT_EQ(Commands.Upload(208, Upload), VK_SUCCESS);
        std::memcpy(Upload.Host(), &Index, sizeof Index);
        Upload.m_Buffer->FlushHostRange();
        const VkBufferCopy Region = {0, 0, sizeof Index};
        if (Index % 50 == 49)
            Commands.CopyBuffer(Upload, BufferSlice::Whole(Target), {&Region, 1});
        // Now and then the host waits for the device, as a renderer waits
        // for its frames.
        if (Index % 500 == 0)
        {
            ASSERT_EQ(Commands.WaitForHostAccess(*Target), VK_SUCCESS);
        }
    }
    int Last = 0;
    std::memcpy(&Last, Context.Read(Target).data(), sizeof Last);
    EXPECT_EQ(Last, 19999);
    EXPECT_LE(Commands.Ring().ChunkCount(), 4u) << "20000 uploads of 208 bytes, 256 KiB chunks";
    // Large uploads get memory of their own, outside the ring.
    BufferSlice Large;
    ASSERT_EQ(Commands.Upload(Platform::Vulkan::UploadRing::ChunkSize, Large), VK_SUCCESS);
    EXPECT_EQ(Large.m_Offset, 0u);
    EXPECT_EQ(Large.m_Buffer->Size(), Platform::Vulkan::UploadRing::ChunkSize);
}

// Lavapipe's memory is coherent and the validation layer does not follow the
// host: only the state shows that a host read came after its barrier.
TEST(VulkanCommandContext, TheHostReadsCopiesOnlyThroughABarrierToIt)
{
    Testing::SoftwareContext Context;
    ASSERT_TRUE(Context.m_Commands);
    const auto Source = Context.MakeImage(VK_FORMAT_B8G8R8A8_UNORM, 8, 8, Filled(256, 5));
    const auto Host = Context.MakeHostBuffer(256);
    const VkBufferImageCopy Whole = {0, 0, 0, Color, {0, 0, 0}, {8, 8, 1}};
    Context.m_Commands->CopyImageToBuffer(Source, BufferSlice::Whole(Host), {&Whole, 1});
    const Platform::Vulkan::AccessState& State = *Host->m_State;
    EXPECT_EQ(State.m_WriteStages, VkPipelineStageFlags(VK_PIPELINE_STAGE_TRANSFER_BIT));
    EXPECT_FALSE(State.m_VisibleStages & VK_PIPELINE_STAGE_HOST_BIT);
    EXPECT_EQ(Context.Read(Host), Filled(256, 5));
    EXPECT_TRUE(State.m_VisibleStages & VK_PIPELINE_STAGE_HOST_BIT);
    EXPECT_TRUE(State.m_VisibleAccess & VK_ACCESS_HOST_READ_BIT);
}

// A device of its own whose batches the test can hold back: the next batch
// submitted waits until the gate (a timeline semaphore) reaches a value.
class VulkanGatedContext : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_Context.m_Commands);
        m_Context.m_Device->SetWaitLimit(std::chrono::milliseconds(300));
        auto TypeInfo =
            Platform::Vulkan::Describe<VkSemaphoreTypeCreateInfo>(VK_STRUCTURE_TYPE_SEMAPHORE_TYPE_CREATE_INFO);
        TypeInfo.semaphoreType = VK_SEMAPHORE_TYPE_TIMELINE;
        auto SemaphoreInfo =
            Platform::Vulkan::Describe<VkSemaphoreCreateInfo>(VK_STRUCTURE_TYPE_SEMAPHORE_CREATE_INFO, &TypeInfo);
        ASSERT_EQ(vkCreateSemaphore(m_Context.m_Device->Handle(), &SemaphoreInfo, nullptr, &m_Gate), VK_SUCCESS);
        m_Image = m_Context.MakeImage(VK_FORMAT_B8G8R8A8_UNORM, 16, 16, Filled(1024, 9));
        m_Host = m_Context.MakeHostBuffer(1024);
        ASSERT_TRUE(m_Image && m_Host);
        m_Context.m_Commands->Flush();
    }
    void TearDown() override
    {
        // The gate opens past every value a test holds a batch for, so that
        // the device drains before it goes.
        Open(GateOpen);
        const VkDevice Device = m_Context.m_Device->Handle();
        m_Context.m_Commands.reset();
        m_Image.reset();
        m_Host.reset();
        vkDeviceWaitIdle(Device);
        vkDestroySemaphore(Device, m_Gate, nullptr);
    }

    Platform::Vulkan::CommandContext& Commands() { return *m_Context.m_Commands; }
    // The next batch submitted waits for the gate to reach Value.
    void HoldNextUntil(uint64_t Value) { Commands().Stream().WaitBeforeNext(m_Gate, Value); }
    void CopyOut()
    {
        const VkBufferImageCopy Whole = {0, 0, 0, Color, {0, 0, 0}, {16, 16, 1}};
        Commands().CopyImageToBuffer(m_Image, BufferSlice::Whole(m_Host), {&Whole, 1});
        Commands().PrepareHostRead(m_Host);
    }
    void Open(uint64_t Value)
    {
        auto Signal = Platform::Vulkan::Describe<VkSemaphoreSignalInfo>(VK_STRUCTURE_TYPE_SEMAPHORE_SIGNAL_INFO);
        Signal.semaphore = m_Gate;
        Signal.value = Value;
        uint64_t Now = 0;
        vkGetSemaphoreCounterValue(m_Context.m_Device->Handle(), m_Gate, &Now);
        if (Value > Now)
            vkSignalSemaphore(m_Context.m_Device->Handle(), &Signal);
    }

    static constexpr uint64_t GateOpen = 1000;

    Testing::SoftwareContext m_Context;
    VkSemaphore m_Gate = VK_NULL_HANDLE;
    std::shared_ptr<Image> m_Image;
    std::shared_ptr<Buffer> m_Host;
};

// Without waiting, the host hears that the device still uses the memory,
// and the work it waits for is submitted meanwhile.
TEST_F(VulkanGatedContext, HostAccessWithoutWaitingAnswersNotReady)
{
    HoldNextUntil(1);
    CopyOut();
    const uint64_t Recording = Commands().CurrentValue();
    EXPECT_EQ(Commands().WaitForHostAccess(*m_Host, false), VK_NOT_READY);
    EXPECT_GT(Commands().CurrentValue(), Recording) << "the copy's batch went to the device";
    Open(1);
    EXPECT_EQ(Commands().WaitForHostAccess(*m_Host), VK_SUCCESS);
    EXPECT_EQ(Commands().WaitForHostAccess(*m_Host, false), VK_SUCCESS);
    m_Host->InvalidateHostRange();
    EXPECT_EQ(m_Host->Mapped()[1023], 9);
}

// A later wait: the batch that holds a resource's last use, or for a
// resource that nothing used yet, the last batch submitted.
TEST_F(VulkanGatedContext, SubmittedUsesNameTheBatchToWaitFor)
{
    CopyOut();
    const uint64_t Copy = Commands().CurrentValue();
    uint64_t Batch = 0;
    EXPECT_EQ(Commands().SubmitUses(*m_Host, Batch), VK_SUCCESS);
    EXPECT_EQ(Batch, Copy);
    EXPECT_EQ(Commands().Wait(Batch), VK_SUCCESS);
    // Nothing recorded since: the copy's batch again, which has completed.
    const auto Unused = m_Context.MakeHostBuffer(16);
    EXPECT_EQ(Commands().SubmitUses(*Unused, Batch), VK_SUCCESS);
    EXPECT_EQ(Batch, Copy);
    // Something recorded: its batch goes to the device.
    CopyOut();
    const uint64_t Recorded = Commands().CurrentValue();
    EXPECT_EQ(Commands().SubmitUses(*Unused, Batch), VK_SUCCESS);
    EXPECT_EQ(Batch, Recorded);
    EXPECT_EQ(Commands().Wait(Batch), VK_SUCCESS);
}

// An image that the host reads where it lies, copied into by a batch that
// the device holds back: the batch that its uses name is waited for, and the
// host then sees exactly the copied pixels, as a frame read in place must.
TEST_F(VulkanGatedContext, AnImageReadWhereItLiesWaitsForItsLastCopy)
{
    std::vector<uint8_t> Pixels(1024);
    for (size_t Index = 0; Index < Pixels.size(); ++Index)
        Pixels[Index] = uint8_t(Index * 37 + 1);
    const auto Source = m_Context.MakeImage(VK_FORMAT_B8G8R8A8_UNORM, 16, 16, Pixels);
    std::shared_ptr<Image> Placed;
    ASSERT_EQ(Image::Create(m_Context.m_Device, VK_FORMAT_B8G8R8A8_UNORM, 16, 16,
                            VK_IMAGE_USAGE_TRANSFER_SRC_BIT | VK_IMAGE_USAGE_TRANSFER_DST_BIT, Placed,
                            Image::Placement::Host),
              VK_SUCCESS);
    ASSERT_TRUE(Source && Placed && Placed->Mapped());
    Commands().Flush();
    HoldNextUntil(1);
    const VkImageCopy Whole = {Color, {0, 0, 0}, Color, {0, 0, 0}, {16, 16, 1}};
    Commands().CopyImage(Source, Placed, {&Whole, 1}, true);
    Commands().PrepareHostRead(Placed);
    uint64_t Batch = 0;
    ASSERT_EQ(Commands().SubmitUses(*Placed, Batch), VK_SUCCESS);
    std::thread Opener([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        Open(1);
    });
    const auto Start = std::chrono::steady_clock::now();
    EXPECT_EQ(Commands().Wait(Batch), VK_SUCCESS);
    EXPECT_GE(std::chrono::steady_clock::now() - Start, std::chrono::milliseconds(50));
    Placed->InvalidateHostRange();
    size_t Differing = 0;
    for (uint32_t Row = 0; Row < 16; ++Row)
        Differing += std::memcmp(Placed->Mapped() + Row * Placed->RowPitch(), &Pixels[Row * 64], 64) != 0;
    EXPECT_EQ(Differing, 0u);
    Opener.join();
}

// A device that works through a long queue is not hung, however long the
// wait: three batches, each let go by the test a while after the one before,
// take longer together than the wait limit.
TEST_F(VulkanGatedContext, ADeviceThatProgressesIsWaitedFor)
{
    for (uint64_t Step = 1; Step <= 3; ++Step)
    {
        HoldNextUntil(Step);
        CopyOut();
        Commands().Flush();
    }
    std::thread Opener([&] {
        for (uint64_t Step = 1; Step <= 3; ++Step)
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            Open(Step);
        }
    });
    EXPECT_EQ(Commands().WaitForHostAccess(*m_Host), VK_SUCCESS);
    Opener.join();
    EXPECT_EQ(m_Context.m_Device->RemovedReason(), VK_SUCCESS);
}

// The device is stalled on purpose: its next batch waits for the gate, which
// the test holds. A wait for that batch ends with the device hung.
TEST_F(VulkanGatedContext, AStalledDeviceEndsWaitsAsHung)
{
    HoldNextUntil(1);
    CopyOut();

    const auto Start = std::chrono::steady_clock::now();
    EXPECT_EQ(Commands().WaitForHostAccess(*m_Host), VK_TIMEOUT);
    const auto Waited = std::chrono::steady_clock::now() - Start;
    EXPECT_GE(Waited, std::chrono::milliseconds(250));
    EXPECT_LT(Waited, std::chrono::seconds(5));
    EXPECT_EQ(m_Context.m_Device->RemovedReason(), VK_TIMEOUT);
    // From then on every wait answers at once, and nothing more is recorded.
    CopyOut();
    uint64_t Batch = 0;
    EXPECT_EQ(Commands().SubmitUses(*m_Host, Batch), VK_TIMEOUT);
    EXPECT_EQ(Commands().WaitForHostAccess(*m_Host), VK_TIMEOUT);
    BufferSlice Upload;
    EXPECT_EQ(Commands().Upload(16, Upload), VK_TIMEOUT);
}

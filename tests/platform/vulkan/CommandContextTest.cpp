// The command context behind a Direct3D device: small updates through the
// upload ring, the barriers before copies, and waits that end when the device
// stops working.

#include <chrono>
#include <thread>
#include <cstring>
#include <dlfcn.h>
#include <vector>

#include <gtest/gtest.h>

#include <d3d11.h>

#include "support/Graphics.h"

#include "Com/Implementation.h"
#include "d3d11/Device.h"
#include "D3D11/Readback.h"
#include "d3d11/Texture2D.h"
#include "vulkan/Structure.h"

namespace {

using Graphics::ComPtr;
using Platform::D3D11::DeviceState;

DeviceState& StateOf(ID3D11Device* Device)
{
    return *Platform::ImplementationOf<Platform::D3D11::Device>(Device)->State();
}

ComPtr<ID3D11Buffer> MakeBuffer(ID3D11Device* Device, UINT Size, D3D11_USAGE Usage, UINT Bind, UINT Cpu = 0)
{
    const D3D11_BUFFER_DESC Desc = {Size, Usage, Bind, Cpu, 0, 0};
    ComPtr<ID3D11Buffer> Buffer;
    EXPECT_EQ(Device->CreateBuffer(&Desc, nullptr, Buffer.GetAddressOf()), S_OK);
    return Buffer;
}

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
    Graphics::Device& Shared = Graphics::Shared();
    D3D11_TEXTURE2D_DESC Desc = {8, 8, 1, 1, DXGI_FORMAT_B8G8R8A8_UNORM, {1, 0}, D3D11_USAGE_DEFAULT, 0, 0, 0};
    ComPtr<ID3D11Texture2D> Source, Target;
    ASSERT_EQ(Shared.m_Device->CreateTexture2D(&Desc, nullptr, Source.GetAddressOf()), S_OK);
    ASSERT_EQ(Shared.m_Device->CreateTexture2D(&Desc, nullptr, Target.GetAddressOf()), S_OK);
    Desc.Usage = D3D11_USAGE_STAGING;
    Desc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
    ComPtr<ID3D11Texture2D> Staging;
    ASSERT_EQ(Shared.m_Device->CreateTexture2D(&Desc, nullptr, Staging.GetAddressOf()), S_OK);
    const VkImage Image = static_cast<Platform::D3D11::Texture2D*>(Target.Get())->m_Image->Handle();
    const std::vector<uint32_t> Texels(64, 0xFF336699);
    Shared.m_Context->UpdateSubresource(Source.Get(), 0, nullptr, Texels.data(), 32, 0);

    std::vector<VkImageMemoryBarrier> Barriers;
    RecordedImageBarriers = &Barriers;
    // A whole write may drop what was there.
    Shared.m_Context->UpdateSubresource(Target.Get(), 0, nullptr, Texels.data(), 32, 0);
    EXPECT_EQ(OldLayoutsOf(Barriers, Image), std::vector<VkImageLayout>{VK_IMAGE_LAYOUT_UNDEFINED});

    // Read (copied out), then written in part, by a copy and by an update:
    // each change back to the copy target's layout keeps the contents.
    const D3D11_BOX Corner = {0, 0, 0, 4, 4, 1};
    Shared.m_Context->CopyResource(Staging.Get(), Target.Get());
    Barriers.clear();
    Shared.m_Context->CopySubresourceRegion(Target.Get(), 0, 2, 2, 0, Source.Get(), 0, &Corner);
    EXPECT_EQ(OldLayoutsOf(Barriers, Image), std::vector<VkImageLayout>{VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL})
        << "a partial copy";
    Shared.m_Context->CopyResource(Staging.Get(), Target.Get());
    Barriers.clear();
    Shared.m_Context->UpdateSubresource(Target.Get(), 0, &Corner, Texels.data(), 32, 0);
    EXPECT_EQ(OldLayoutsOf(Barriers, Image), std::vector<VkImageLayout>{VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL})
        << "a partial update";
    RecordedImageBarriers = nullptr;
    Shared.m_Context->Flush();
}

TEST(VulkanCommandContext, ConstantBufferUpdatesTakeFreshRangesThatComeBack)
{
    Graphics::Device& Shared = Graphics::Shared();
    ComPtr<ID3D11Buffer> Constants =
        MakeBuffer(Shared.m_Device.Get(), 208, D3D11_USAGE_DEFAULT, D3D11_BIND_CONSTANT_BUFFER);
    DeviceState& State = StateOf(Shared.m_Device.Get());
    // Each whole update renames the buffer: the device writes nothing, so
    // nothing waits for the device's earlier reads.
    auto* Buffer = static_cast<Platform::D3D11::Buffer*>(Constants.Get());
    std::vector<uint8_t> Bytes(208);
    Bytes[0] = 1;
    Shared.m_Context->UpdateSubresource(Constants.Get(), 0, nullptr, Bytes.data(), 0, 0);
    const VkBuffer First = Buffer->Storage().m_Buffer->Handle();
    Shared.m_Context->UpdateSubresource(Constants.Get(), 0, nullptr, Bytes.data(), 0, 0);
    EXPECT_TRUE(Buffer->Storage().m_Buffer->Handle() != First || Buffer->Storage().m_Offset != 0);
    EXPECT_NE(Buffer->Storage().m_Buffer->Mapped(), nullptr) << "renamed into host-written memory";

    // Far more updates than a chunk holds: the ring reuses what completed.
    for (int Index = 0; Index < 20000; ++Index)
    {
        std::memcpy(Bytes.data(), &Index, sizeof Index);
        Shared.m_Context->UpdateSubresource(Constants.Get(), 0, nullptr, Bytes.data(), 0, 0);
        if (Index % 500 == 0)
            Shared.m_Context->Flush();
    }
    EXPECT_EQ(Graphics::ReadBuffer(Shared.m_Device.Get(), Shared.m_Context.Get(), Constants.Get()), Bytes);
    EXPECT_LE(State.m_Commands.Ring().ChunkCount(), 4u) << "20000 updates of 208 bytes, 256 KiB chunks";

    // A partial update keeps the rest, renamed or in the buffer's own memory.
    const uint8_t Patch[16] = {7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7};
    const D3D11_BOX Box = {32, 0, 0, 48, 1, 1};
    Shared.m_Context->UpdateSubresource(Constants.Get(), 0, &Box, Patch, 0, 0);
    std::memcpy(Bytes.data() + 32, Patch, 16);
    EXPECT_EQ(Graphics::ReadBuffer(Shared.m_Device.Get(), Shared.m_Context.Get(), Constants.Get()), Bytes);
    ComPtr<ID3D11Buffer> Vertices =
        MakeBuffer(Shared.m_Device.Get(), 64, D3D11_USAGE_DEFAULT, D3D11_BIND_VERTEX_BUFFER);
    const D3D11_BOX Middle = {16, 0, 0, 32, 1, 1};
    Shared.m_Context->UpdateSubresource(Vertices.Get(), 0, &Middle, Patch, 0, 0);
    std::vector<uint8_t> Expected(64);
    std::memcpy(Expected.data() + 16, Patch, 16);
    EXPECT_EQ(Graphics::ReadBuffer(Shared.m_Device.Get(), Shared.m_Context.Get(), Vertices.Get()), Expected);
    // A copy into a renamed buffer lands in its own memory, and stays.
    Shared.m_Context->CopySubresourceRegion(Constants.Get(), 0, 0, 0, 0, Vertices.Get(), 0, &Middle);
    std::memcpy(Bytes.data(), Patch, 16);
    EXPECT_EQ(Graphics::ReadBuffer(Shared.m_Device.Get(), Shared.m_Context.Get(), Constants.Get()), Bytes);
}

TEST(VulkanCommandContext, DiscardingADynamicBufferKeepsWhatEarlierCopiesRead)
{
    Graphics::Device& Shared = Graphics::Shared();
    ComPtr<ID3D11Buffer> Dynamic =
        MakeBuffer(Shared.m_Device.Get(), 16, D3D11_USAGE_DYNAMIC, D3D11_BIND_VERTEX_BUFFER, D3D11_CPU_ACCESS_WRITE);
    ComPtr<ID3D11Buffer> Earlier = MakeBuffer(Shared.m_Device.Get(), 16, D3D11_USAGE_DEFAULT, D3D11_BIND_VERTEX_BUFFER);
    D3D11_MAPPED_SUBRESOURCE Mapped = {};
    ASSERT_EQ(Shared.m_Context->Map(Dynamic.Get(), 0, D3D11_MAP_WRITE_DISCARD, 0, &Mapped), S_OK);
    std::memset(Mapped.pData, 1, 16);
    Shared.m_Context->Unmap(Dynamic.Get(), 0);
    Shared.m_Context->CopyResource(Earlier.Get(), Dynamic.Get()); // recorded, not yet run
    ASSERT_EQ(Shared.m_Context->Map(Dynamic.Get(), 0, D3D11_MAP_WRITE_DISCARD, 0, &Mapped), S_OK);
    std::memset(Mapped.pData, 2, 16);
    Shared.m_Context->Unmap(Dynamic.Get(), 0);
    EXPECT_EQ(Graphics::ReadBuffer(Shared.m_Device.Get(), Shared.m_Context.Get(), Earlier.Get()),
              std::vector<uint8_t>(16, 1));
    EXPECT_EQ(Graphics::ReadBuffer(Shared.m_Device.Get(), Shared.m_Context.Get(), Dynamic.Get()),
              std::vector<uint8_t>(16, 2));
}

// Lavapipe's memory is coherent and the validation layer does not follow the
// host: only the state shows that a host read came after its barrier.
TEST(VulkanCommandContext, TheHostReadsCopiesOnlyThroughABarrierToIt)
{
    Graphics::Device& Shared = Graphics::Shared();
    D3D11_TEXTURE2D_DESC Desc = {8, 8, 1, 1, DXGI_FORMAT_B8G8R8A8_UNORM, {1, 0}, D3D11_USAGE_DEFAULT, 0, 0, 0};
    ComPtr<ID3D11Texture2D> Texture;
    ASSERT_EQ(Shared.m_Device->CreateTexture2D(&Desc, nullptr, Texture.GetAddressOf()), S_OK);
    Desc.Usage = D3D11_USAGE_STAGING;
    Desc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
    ComPtr<ID3D11Texture2D> Staging;
    ASSERT_EQ(Shared.m_Device->CreateTexture2D(&Desc, nullptr, Staging.GetAddressOf()), S_OK);
    Shared.m_Context->CopyResource(Staging.Get(), Texture.Get());
    const Platform::Vulkan::AccessState& Host =
        static_cast<Platform::D3D11::Texture2D*>(Staging.Get())->m_Host->m_State;
    EXPECT_EQ(Host.m_WriteStages, VkPipelineStageFlags(VK_PIPELINE_STAGE_TRANSFER_BIT));
    EXPECT_FALSE(Host.m_VisibleStages & VK_PIPELINE_STAGE_HOST_BIT);
    D3D11_MAPPED_SUBRESOURCE Mapped = {};
    ASSERT_EQ(Shared.m_Context->Map(Staging.Get(), 0, D3D11_MAP_READ, 0, &Mapped), S_OK);
    EXPECT_TRUE(Host.m_VisibleStages & VK_PIPELINE_STAGE_HOST_BIT);
    EXPECT_TRUE(Host.m_VisibleAccess & VK_ACCESS_HOST_READ_BIT);
    Shared.m_Context->Unmap(Staging.Get(), 0);
}

// A device of its own whose batches the test can hold back: the next batch
// submitted waits until the gate (a timeline semaphore) reaches a value.
class GatedDevice : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_WARP, nullptr, 0, nullptr, 0, D3D11_SDK_VERSION,
                                    m_Device.GetAddressOf(), nullptr, m_Context.GetAddressOf()),
                  S_OK);
        m_Vulkan = StateOf(m_Device.Get()).Vulkan();
        m_Vulkan->SetWaitLimit(std::chrono::milliseconds(300));
        auto TypeInfo =
            Platform::Vulkan::Describe<VkSemaphoreTypeCreateInfo>(VK_STRUCTURE_TYPE_SEMAPHORE_TYPE_CREATE_INFO);
        TypeInfo.semaphoreType = VK_SEMAPHORE_TYPE_TIMELINE;
        auto SemaphoreInfo =
            Platform::Vulkan::Describe<VkSemaphoreCreateInfo>(VK_STRUCTURE_TYPE_SEMAPHORE_CREATE_INFO, &TypeInfo);
        ASSERT_EQ(vkCreateSemaphore(m_Vulkan->Handle(), &SemaphoreInfo, nullptr, &m_Gate), VK_SUCCESS);
        const D3D11_TEXTURE2D_DESC Desc = {
            16, 16, 1, 1, DXGI_FORMAT_B8G8R8A8_UNORM, {1, 0}, D3D11_USAGE_DEFAULT, D3D11_BIND_RENDER_TARGET, 0, 0};
        ASSERT_EQ(m_Device->CreateTexture2D(&Desc, nullptr, m_Texture.GetAddressOf()), S_OK);
        D3D11_TEXTURE2D_DESC StagingDesc = Desc;
        StagingDesc.Usage = D3D11_USAGE_STAGING;
        StagingDesc.BindFlags = 0;
        StagingDesc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
        ASSERT_EQ(m_Device->CreateTexture2D(&StagingDesc, nullptr, m_Staging.GetAddressOf()), S_OK);
        Submit();
    }
    void TearDown() override
    {
        // The gate opens past every value a test holds a batch for, so that
        // the device drains before it goes.
        Open(GateOpen);
        m_Staging.Reset();
        m_Texture.Reset();
        m_Context.Reset();
        m_Device.Reset();
        vkDeviceWaitIdle(m_Vulkan->Handle());
        vkDestroySemaphore(m_Vulkan->Handle(), m_Gate, nullptr);
    }

    // Submits what is recorded; the next batch waits for the gate to reach Value.
    void HoldNextUntil(uint64_t Value)
    {
        DeviceState& State = StateOf(m_Device.Get());
        std::lock_guard Guard(State.m_Lock);
        State.m_Commands.Stream().WaitBeforeNext(m_Gate, Value);
    }
    void Submit()
    {
        DeviceState& State = StateOf(m_Device.Get());
        std::lock_guard Guard(State.m_Lock);
        State.m_Commands.Flush();
    }
    void Open(uint64_t Value)
    {
        auto Signal = Platform::Vulkan::Describe<VkSemaphoreSignalInfo>(VK_STRUCTURE_TYPE_SEMAPHORE_SIGNAL_INFO);
        Signal.semaphore = m_Gate;
        Signal.value = Value;
        uint64_t Now = 0;
        vkGetSemaphoreCounterValue(m_Vulkan->Handle(), m_Gate, &Now);
        if (Value > Now)
            vkSignalSemaphore(m_Vulkan->Handle(), &Signal);
    }

    static constexpr uint64_t GateOpen = 1000;

    ComPtr<ID3D11Device> m_Device;
    ComPtr<ID3D11DeviceContext> m_Context;
    std::shared_ptr<Platform::Vulkan::Device> m_Vulkan;
    VkSemaphore m_Gate = VK_NULL_HANDLE;
    ComPtr<ID3D11Texture2D> m_Texture;
    ComPtr<ID3D11Texture2D> m_Staging;
};

// A device that works through a long queue is not hung, however long the
// wait: three batches, each let go by the test a while after the one before,
// take longer together than the wait limit.
TEST_F(GatedDevice, ADeviceThatProgressesIsWaitedFor)
{
    for (uint64_t Step = 1; Step <= 3; ++Step)
    {
        HoldNextUntil(Step);
        m_Context->CopyResource(m_Staging.Get(), m_Texture.Get());
        Submit();
    }
    std::thread Opener([&] {
        for (uint64_t Step = 1; Step <= 3; ++Step)
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            Open(Step);
        }
    });
    D3D11_MAPPED_SUBRESOURCE Mapped = {};
    EXPECT_EQ(m_Context->Map(m_Staging.Get(), 0, D3D11_MAP_READ, 0, &Mapped), S_OK);
    m_Context->Unmap(m_Staging.Get(), 0);
    Opener.join();
    EXPECT_EQ(m_Device->GetDeviceRemovedReason(), S_OK);
}

// The device is stalled on purpose: its next batch waits for the gate, which
// the test holds. A wait for that batch ends with the device hung.
TEST_F(GatedDevice, AStalledDeviceEndsWaitsAsHung)
{
    HoldNextUntil(1);
    m_Context->CopyResource(m_Staging.Get(), m_Texture.Get());

    const auto Start = std::chrono::steady_clock::now();
    D3D11_MAPPED_SUBRESOURCE Mapped = {};
    EXPECT_EQ(m_Context->Map(m_Staging.Get(), 0, D3D11_MAP_READ, 0, &Mapped), DXGI_ERROR_DEVICE_HUNG);
    const auto Waited = std::chrono::steady_clock::now() - Start;
    EXPECT_GE(Waited, std::chrono::milliseconds(250));
    EXPECT_LT(Waited, std::chrono::seconds(5));
    EXPECT_EQ(m_Device->GetDeviceRemovedReason(), DXGI_ERROR_DEVICE_HUNG);
    // From then on every wait answers at once.
    Platform::D3D11::TextureReadback Readback;
    EXPECT_EQ(Readback.Read(m_Texture.Get()), DXGI_ERROR_DEVICE_HUNG);
    EXPECT_EQ(m_Context->Map(m_Staging.Get(), 0, D3D11_MAP_READ, 0, &Mapped), DXGI_ERROR_DEVICE_HUNG);
}

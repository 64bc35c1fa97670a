// For the back end's tests: a device on the software adapter with a command
// context of its own, and images and buffers filled and read through it.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "Vulkan/CommandContext.h"
#include "Vulkan/Instance.h"

namespace Testing {

// A new device on the first software adapter; null (and a failure) where
// there is none.
inline std::shared_ptr<Platform::Vulkan::Device> SoftwareDevice()
{
    std::shared_ptr<Platform::Vulkan::Instance> Instance;
    EXPECT_EQ(Platform::Vulkan::Instance::Acquire(Instance), VK_SUCCESS);
    std::shared_ptr<Platform::Vulkan::Device> Device;
    if (Instance)
        for (const Platform::Vulkan::PhysicalDevice& Physical : Instance->PhysicalDevices())
            if (Physical.IsSoftware())
            {
                EXPECT_EQ(Platform::Vulkan::Device::Create(Instance, Physical, Device), VK_SUCCESS);
                break;
            }
    EXPECT_TRUE(Device) << "no software adapter";
    return Device;
}

struct SoftwareContext
{
    std::shared_ptr<Platform::Vulkan::Device> m_Device = SoftwareDevice();
    std::unique_ptr<Platform::Vulkan::CommandContext> m_Commands;

    SoftwareContext()
    {
        if (!m_Device)
            return;
        m_Commands = std::make_unique<Platform::Vulkan::CommandContext>(m_Device);
        const VkDescriptorSetLayoutBinding Uniform = {0, VK_DESCRIPTOR_TYPE_UNIFORM_BUFFER, 1,
                                                      VK_SHADER_STAGE_VERTEX_BIT, nullptr};
        EXPECT_EQ(m_Commands->Initialize({Uniform}), VK_SUCCESS);
    }

    // A device image of 4-byte texels, Pixels (tightly packed rows) copied
    // into it.
    std::shared_ptr<Platform::Vulkan::Image> MakeImage(VkFormat Format, uint32_t Width, uint32_t Height,
                                                       const std::vector<uint8_t>& Pixels,
                                                       VkImageUsageFlags Usage = VK_IMAGE_USAGE_SAMPLED_BIT)
    {
        std::shared_ptr<Platform::Vulkan::Image> Image;
        EXPECT_EQ(Platform::Vulkan::Image::Create(
                      m_Device, Format, Width, Height,
                      Usage | VK_IMAGE_USAGE_TRANSFER_SRC_BIT | VK_IMAGE_USAGE_TRANSFER_DST_BIT, Image),
                  VK_SUCCESS);
        if (!Image || Pixels.empty())
            return Image;
        Platform::Vulkan::BufferSlice Source;
        EXPECT_EQ(m_Commands->Upload(Pixels.size(), Source), VK_SUCCESS);
        std::memcpy(Source.Host(), Pixels.data(), Pixels.size());
        Source.m_Buffer->FlushHostRange();
        const VkBufferImageCopy Region = {0, 0, 0, {VK_IMAGE_ASPECT_COLOR_BIT, 0, 0, 1}, {0, 0, 0}, {Width, Height, 1}};
        m_Commands->CopyBufferToImage(Source, Image, {&Region, 1}, true);
        return Image;
    }

    std::shared_ptr<Platform::Vulkan::Buffer> MakeHostBuffer(VkDeviceSize Size)
    {
        std::shared_ptr<Platform::Vulkan::Buffer> Buffer;
        EXPECT_EQ(Platform::Vulkan::Buffer::Create(
                      m_Device, Size, VK_BUFFER_USAGE_TRANSFER_DST_BIT | VK_BUFFER_USAGE_STORAGE_BUFFER_BIT,
                      Platform::Vulkan::Buffer::Access::HostRead, Buffer),
                  VK_SUCCESS);
        return Buffer;
    }

    // What the device wrote to Buffer, once it is done with it.
    std::vector<uint8_t> Read(const std::shared_ptr<Platform::Vulkan::Buffer>& Buffer)
    {
        m_Commands->PrepareHostRead(Buffer);
        EXPECT_EQ(m_Commands->WaitForHostAccess(*Buffer), VK_SUCCESS);
        Buffer->InvalidateHostRange();
        return {Buffer->Mapped(), Buffer->Mapped() + Buffer->Size()};
    }

    // The pixels of a 4-byte-texel image, tightly packed.
    std::vector<uint8_t> Read(const std::shared_ptr<Platform::Vulkan::Image>& Image)
    {
        const auto Buffer = MakeHostBuffer(VkDeviceSize(Image->Width()) * Image->Height() * 4);
        const VkBufferImageCopy Region = {
            0, 0, 0, {VK_IMAGE_ASPECT_COLOR_BIT, 0, 0, 1}, {0, 0, 0}, {Image->Width(), Image->Height(), 1}};
        m_Commands->CopyImageToBuffer(Image, Platform::Vulkan::BufferSlice::Whole(Buffer), {&Region, 1});
        return Read(Buffer);
    }
};

} // namespace Testing

// What the command context's operations take: a draw with the pipeline it
// needs and everything it reads, the planes of an NV12 conversion, and how
// the planes of an image lie in a buffer.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include <vulkan/vulkan.h>

#include "Memory.h"

namespace Platform::Vulkan {

struct PipelineDescription
{
    // Identities of the shader objects and input layout (never reused), which
    // together with the state below make the cache key.
    uint64_t m_VertexShaderId = 0;
    uint64_t m_PixelShaderId = 0;
    uint64_t m_InputLayoutId = 0;
    VkShaderModule m_VertexShader = VK_NULL_HANDLE;
    VkShaderModule m_PixelShader = VK_NULL_HANDLE;
    const char* m_VertexEntryPoint = "main";
    const char* m_PixelEntryPoint = "main";
    std::vector<VkVertexInputBindingDescription> m_Bindings;
    std::vector<VkVertexInputAttributeDescription> m_Attributes;
    VkPrimitiveTopology m_Topology = VK_PRIMITIVE_TOPOLOGY_TRIANGLE_LIST;
    VkCullModeFlags m_CullMode = VK_CULL_MODE_NONE;
    VkFrontFace m_FrontFace = VK_FRONT_FACE_COUNTER_CLOCKWISE;
    std::vector<VkFormat> m_ColorFormats;
};

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

// Where the planes lie in the target buffer, in bytes; offsets and pitches
// are multiples of 4, and each row has room for the width rounded up to 4.
struct Nv12Planes
{
    uint32_t m_Width = 0;  // even
    uint32_t m_Height = 0; // even
    VkDeviceSize m_LumaOffset = 0;
    uint32_t m_LumaPitch = 0;
    VkDeviceSize m_ChromaOffset = 0;
    uint32_t m_ChromaPitch = 0;
};

// Where one plane of an image's pixels lies in a buffer: rows of RowPitch
// bytes from Offset on, TexelBytes a texel of the plane.
struct HostPlane
{
    VkDeviceSize m_Offset = 0;
    uint32_t m_RowPitch = 0;
    uint32_t m_TexelBytes = 0;
};

} // namespace Platform::Vulkan

// Vulkan structures with their type set and everything else zero.
#pragma once

#include <vulkan/vulkan.h>

namespace Platform::Vulkan {

template <typename Structure>
Structure Describe(VkStructureType Type, decltype(Structure::pNext) Next = nullptr)
{
    Structure Value{};
    Value.sType = Type;
    Value.pNext = Next;
    return Value;
}

} // namespace Platform::Vulkan

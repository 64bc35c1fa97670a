#include "FeatureLevel.h"

namespace Platform::D3D11 {

D3D_FEATURE_LEVEL FeatureLevelOf(const VkPhysicalDeviceFeatures& Features, const VkPhysicalDeviceLimits& Limits)
{
    const bool Level10 = Features.geometryShader && Features.independentBlend && Features.dualSrcBlend &&
                         Features.depthClamp && Limits.maxImageDimension2D >= 8192 && Limits.maxColorAttachments >= 8 &&
                         Limits.maxVertexInputAttributes >= 16;
    const bool Level10_1 = Level10 && Features.imageCubeArray && Features.sampleRateShading;
    const bool Level11 = Level10_1 && Features.tessellationShader && Features.textureCompressionBC &&
                         Features.fragmentStoresAndAtomics && Features.drawIndirectFirstInstance &&
                         Limits.maxImageDimension2D >= 16384 && Limits.maxComputeWorkGroupInvocations >= 1024;
    const bool Level11_1 = Level11 && Features.logicOp && Features.vertexPipelineStoresAndAtomics;
    if (Level11_1)
        return D3D_FEATURE_LEVEL_11_1;
    if (Level11)
        return D3D_FEATURE_LEVEL_11_0;
    if (Level10_1)
        return D3D_FEATURE_LEVEL_10_1;
    if (Level10)
        return D3D_FEATURE_LEVEL_10_0;
    if (Limits.maxImageDimension2D >= 4096)
        return D3D_FEATURE_LEVEL_9_3;
    return D3D_FEATURE_LEVEL_9_1;
}

} // namespace Platform::D3D11

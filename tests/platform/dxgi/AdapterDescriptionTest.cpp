// What DXGI tells of an adapter.

#include <array>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <d3d10.h>
#include <d3d11.h>
#include <dxgi1_3.h>

#include "support/Drawing.h"
#include "support/Graphics.h"

#include "dxgi/AdapterDescription.h"

using namespace Graphics;

TEST(Dxgi, LuidFromUuidIsStableAndSpreads)
{
    std::array<uint8_t, VK_UUID_SIZE> Uuid = {};
    const LUID First = Platform::Dxgi::LuidFromUuid(Uuid);
    EXPECT_EQ(First.LowPart, Platform::Dxgi::LuidFromUuid(Uuid).LowPart);
    EXPECT_EQ(First.HighPart, 0);
    Uuid[15] = 1;
    EXPECT_NE(First.LowPart, Platform::Dxgi::LuidFromUuid(Uuid).LowPart);
}

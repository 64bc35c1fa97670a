// The executable's resources.

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

using namespace Graphics;

TEST(Resources, TheShaderSourceIsEmbeddedWithCrLf)
{
    const HRSRC Resource = FindResourceW(nullptr, MAKEINTRESOURCEW(105), RT_RCDATA);
    ASSERT_TRUE(Resource);
    const DWORD Size = SizeofResource(nullptr, Resource);
    const char* Text = static_cast<const char*>(LockResource(LoadResource(GetModuleHandleW(nullptr), Resource)));
    ASSERT_TRUE(Text);
    const std::string Content(Text, Size);
    EXPECT_NE(Content.find("float4 PS("), std::string::npos);
    EXPECT_EQ(Content.find('\0'), std::string::npos);
    for (size_t Index = 0; Index < Content.size(); ++Index)
    {
        if (Content[Index] == '\n')
        {
            ASSERT_TRUE(Index > 0 && Content[Index - 1] == '\r') << "LF without CR at " << Index;
        }
    }

    SetLastError(0);
    EXPECT_FALSE(FindResourceW(nullptr, MAKEINTRESOURCEW(106), RT_RCDATA));
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
    EXPECT_FALSE(FindResourceW(nullptr, MAKEINTRESOURCEW(105), MAKEINTRESOURCEW(6)));
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_TYPE_NOT_FOUND);
}

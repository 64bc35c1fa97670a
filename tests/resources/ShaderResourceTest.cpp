// The shader source, embedded in the executable as the resource the tool
// loads: RCDATA 105, with the line ends that the resource compiler keeps.

#include <string>

#include <gtest/gtest.h>

#include <windows.h>

TEST(ShaderResource, TheShaderSourceIsEmbeddedWithCrLf)
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
}

// The executable's resources: found by type, name and language, and the
// errors for a name or a type that is not there.

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include <windows.h>

TEST(Resources, ARegisteredResourceIsFoundLoadedAndSized)
{
    static const char Data[] = "line\r\nline\r\n";
    Platform::RegisterResource(10, 205, 1033, Data, sizeof Data - 1);

    const HRSRC Resource = FindResourceW(nullptr, MAKEINTRESOURCEW(205), RT_RCDATA);
    ASSERT_TRUE(Resource);
    EXPECT_EQ(SizeofResource(nullptr, Resource), sizeof Data - 1);
    const char* Text = static_cast<const char*>(LockResource(LoadResource(GetModuleHandleW(nullptr), Resource)));
    ASSERT_TRUE(Text);
    EXPECT_EQ(std::string(Text, sizeof Data - 1), Data);

    SetLastError(0);
    EXPECT_FALSE(FindResourceW(nullptr, MAKEINTRESOURCEW(206), RT_RCDATA));
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
    EXPECT_FALSE(FindResourceW(nullptr, MAKEINTRESOURCEW(205), MAKEINTRESOURCEW(6)));
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_TYPE_NOT_FOUND);
}

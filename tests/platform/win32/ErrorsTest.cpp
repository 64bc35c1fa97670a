// Win32 errors and their HRESULTs.

#include <climits>
#include <thread>

#include <gtest/gtest.h>

#include <windows.h>

TEST(Win32Error, HresultFromWin32AndThreadLastError)
{
    EXPECT_EQ(HRESULT_FROM_WIN32(0), 0);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), static_cast<HRESULT>(0x80070002));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), E_ACCESSDENIED);
    EXPECT_EQ(HRESULT_FROM_WIN32(0x12345678), static_cast<HRESULT>(0x80075678));
    // Values that read as negative pass unchanged.
    EXPECT_EQ(HRESULT_FROM_WIN32(0x887A0002), static_cast<HRESULT>(0x887A0002));

    SetLastError(ERROR_ACCESS_DENIED);
    DWORD Other = 1;
    std::thread([&] { Other = GetLastError(); }).join();
    EXPECT_EQ(Other, ERROR_SUCCESS);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

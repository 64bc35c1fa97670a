#include <climits>
#include <thread>

#include <gtest/gtest.h>

#include <windows.h>

#include "support/DebugOutputCapture.h"

TEST(MulDiv, RoundsToNearestAndFailsOutsideTheRange)
{
    EXPECT_EQ(MulDiv(60, 60000, 1000), 3600);
    EXPECT_EQ(MulDiv(60, 30000, 1001), 1798); // 1798.2
    EXPECT_EQ(MulDiv(3, 30000, 1001), 90);    // 89.91
    EXPECT_EQ(MulDiv(1, 1, 2), 1);            // halves away from zero
    EXPECT_EQ(MulDiv(-1, 1, 2), -1);
    EXPECT_EQ(MulDiv(1, 1, -2), -1);
    EXPECT_EQ(MulDiv(-1, -1, -2), -1);
    EXPECT_EQ(MulDiv(5, 1, -3), -2);
    EXPECT_EQ(MulDiv(INT_MAX, INT_MAX, INT_MAX), INT_MAX); // 64-bit intermediate
    EXPECT_EQ(MulDiv(1, 1, 0), -1);
    EXPECT_EQ(MulDiv(100000000, 60000, 1000), -1); // past the range
    EXPECT_EQ(MulDiv(-100000000, 60000, 1000), -1);
    EXPECT_EQ(MulDiv(0, 5, 7), 0);
}

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

TEST(RoInitialize, CountsPerThreadAndKeepsTheFirstType)
{
    std::thread([] {
        EXPECT_EQ(RoInitialize(RO_INIT_MULTITHREADED), S_OK);
        EXPECT_EQ(RoInitialize(RO_INIT_MULTITHREADED), S_FALSE);
        EXPECT_EQ(RoInitialize(RO_INIT_SINGLETHREADED), RPC_E_CHANGED_MODE);
        RoUninitialize();
        RoUninitialize();
        EXPECT_EQ(RoInitialize(RO_INIT_SINGLETHREADED), S_OK);
        RoUninitialize();
    }).join();
}

TEST(TickCount, AdvancesWithSleep)
{
    const DWORD Start = GetTickCount();
    Sleep(20);
    EXPECT_GE(GetTickCount() - Start, 19u);
}

TEST(DebugChannelConcurrency, RecordsReachHandlersAndTheProcessSurvivesWithoutDebugger)
{
    DebugOutputCapture Capture;
    OutputDebugStringW(L"first\n");
    std::thread([] { OutputDebugStringW(L"from a thread"); }).join();
    const ULONG_PTR Values[2] = {1, 2};
    RaiseException(0xE0000001, 0, 2, Values); // no handler takes it: nothing happens
    const auto Lines = Capture.Lines();
    ASSERT_EQ(Lines.size(), 2u);
    EXPECT_EQ(Lines[0], L"first\n");
    EXPECT_EQ(Lines[1], L"from a thread");
}

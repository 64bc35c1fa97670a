// Time and arithmetic: MulDiv and the tick count.

#include <climits>
#include <thread>

#include <gtest/gtest.h>

#include <windows.h>

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

TEST(TickCount, AdvancesWithSleep)
{
    const DWORD Start = GetTickCount();
    Sleep(20);
    EXPECT_GE(GetTickCount() - Start, 19u);
}

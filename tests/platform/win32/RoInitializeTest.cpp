// The Windows Runtime's initialisation count.

#include <climits>
#include <thread>

#include <gtest/gtest.h>

#include <windows.h>

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

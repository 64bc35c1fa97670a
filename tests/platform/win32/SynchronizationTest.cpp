// Events and waits.

#include <thread>

#include <gtest/gtest.h>

#include <windows.h>

TEST(EventsConcurrency, ManualResetWaitsAndTimeouts)
{
    const HANDLE Event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const HANDLE Other = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ASSERT_TRUE(Event && Other);
    const HANDLE Both[] = {Other, Event};
    EXPECT_EQ(WaitForMultipleObjects(2, Both, FALSE, 0), WAIT_TIMEOUT);
    std::thread Setter([&] { EXPECT_TRUE(SetEvent(Event)); });
    EXPECT_EQ(WaitForMultipleObjects(2, Both, FALSE, INFINITE), WAIT_OBJECT_0 + 1);
    Setter.join();
    // Manual reset: it stays signalled until reset.
    EXPECT_EQ(WaitForSingleObject(Event, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ResetEvent(Event));
    EXPECT_EQ(WaitForSingleObject(Event, 0), WAIT_TIMEOUT);
    // Automatic reset: one wait takes it; the lowest index wins.
    SetEvent(Other);
    SetEvent(Event);
    EXPECT_EQ(WaitForMultipleObjects(2, Both, FALSE, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(Other, 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForMultipleObjects(2, Both, TRUE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    EXPECT_TRUE(CloseHandle(Event));
    EXPECT_TRUE(CloseHandle(Other));
    EXPECT_FALSE(CloseHandle(Event));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(SetEvent(nullptr));
}

// The debugger channel: records that reach handlers, and a process
// without a debugger that survives them.

#include <climits>
#include <thread>

#include <gtest/gtest.h>

#include <windows.h>

#include "support/DebugOutputCapture.h"

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

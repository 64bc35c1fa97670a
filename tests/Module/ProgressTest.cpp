#include <gtest/gtest.h>

#include "Module/Progress.h"

TEST(Progress, StatusTextCountsRateTimeAndTimeLeft)
{
    EXPECT_EQ(Application::Progress::Text(1200, 3600, 34'000), "frame 1200/3600  35.3 fps  34 s  ETA 68 s");
    // Nothing written yet, or no time gone: no rate, and no guess at the end.
    EXPECT_EQ(Application::Progress::Text(0, 3600, 500), "frame 0/3600  0.0 fps  0 s");
    EXPECT_EQ(Application::Progress::Text(5, 3600, 0), "frame 5/3600  0.0 fps  0 s");
    EXPECT_EQ(Application::Progress::Text(3600, 3600, 100'000), "frame 3600/3600  36.0 fps  100 s  ETA 0 s");
    // With the video's frame rate and the bit rate muxed so far.
    EXPECT_EQ(Application::Progress::Text(1200, 3600, 34'000, 60, 9'871'000),
              "frame 1200/3600  35.3 fps  34 s  ETA 68 s  speed 0.59x  9.87 Mbit/s");
    EXPECT_EQ(Application::Progress::Text(0, 3600, 500, 60, 0), "frame 0/3600  0.0 fps  0 s");
}

TEST(Progress, TheLineLeavesTheLastColumnFree)
{
    const std::string Line = "frame 1200/3600  35.3 fps  34 s  ETA 68 s";
    EXPECT_EQ(Application::Progress::Clip(Line, 120), Line);
    EXPECT_EQ(Application::Progress::Clip(Line, Line.size() + 1), Line);
    EXPECT_EQ(Application::Progress::Clip(Line, Line.size()), Line.substr(0, Line.size() - 1));
    EXPECT_EQ(Application::Progress::Clip(Line, 20), "frame 1200/3600  35");
    EXPECT_EQ(Application::Progress::Clip(Line, 1), "");
    EXPECT_EQ(Application::Progress::Clip(Line, 0), "");
}

TEST(Progress, WithoutAConsoleNothingIsDrawn)
{
    // Standard error of a test is no terminal: the line stays silent.
    testing::internal::CaptureStderr();
    {
        Application::Progress Progress(100, 1000);
        for (UINT32 Frame = 1; Frame <= 100; ++Frame)
            Progress.Update(Frame, 1000 + Frame * 100);
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

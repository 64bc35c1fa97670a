// An encoding run stopped by a signal while frames are on their way through
// the real sink writer: it stops at the next frame, releases everything and
// leaves the output path as it was.
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "Module/Application.h"
#include "Module/Context.h"
#include "support/Deadline.h"

namespace fs = std::filesystem;

namespace {

size_t ThreadCount()
{
    size_t Count = 0;
    for ([[maybe_unused]] const auto& Entry : fs::directory_iterator("/proc/self/task"))
        ++Count;
    return Count;
}

// Whether a descriptor of this process refers to a file in Folder: the new
// video, once writing has begun.
bool WritingInto(const std::string& Folder)
{
    for (const auto& Entry : fs::directory_iterator("/proc/self/fd"))
    {
        std::error_code Error;
        const std::string Target = fs::read_symlink(Entry.path(), Error).string();
        if (!Error && Target.rfind(Folder + "/", 0) == 0)
            return true;
    }
    return false;
}

BOOL WINAPI Ignore(DWORD) { return TRUE; }

bool SignalCaught(int Signal)
{
    struct sigaction Action;
    sigaction(Signal, nullptr, &Action);
    return Action.sa_handler != SIG_DFL && Action.sa_handler != SIG_IGN;
}

} // namespace

TEST(InterruptedRunConcurrency, StopsAtTheNextFrameAndLeavesTheOldFile)
{
    char Template[] = "/tmp/ostrel-interrupted-XXXXXX";
    ASSERT_NE(mkdtemp(Template), nullptr);
    const std::string Folder = Template;
    const std::string Target = Folder + "/out.mp4";
    std::ofstream(Target) << "earlier";

    // A device made and destroyed first, and a handler registered and
    // removed, leave Mesa's and the platform's lasting threads behind, so that
    // only the run's own threads are counted.
    SetConsoleCtrlHandler(Ignore, TRUE);
    SetConsoleCtrlHandler(Ignore, FALSE);
    {
        Application::Configuration Configuration;
        Configuration.m_FrameSizeW = Configuration.m_FrameSizeH = 64;
        Application::Context Context(Configuration);
        Context.Render(0.0f);
    }

    // SIGTERM, which no shell ignores in its background jobs, once the run
    // has caught it and frames are on their way into the new file.
    // A run that misses the event would encode for ten minutes: it fails
    // within seconds instead.
    Deadline Stop(std::chrono::seconds(10), "the run did not stop after SIGTERM");
    const size_t ThreadsBefore = ThreadCount();
    std::thread Interrupter([&] {
        while (!SignalCaught(SIGTERM) || !WritingInto(Folder))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        kill(getpid(), SIGTERM);
        Stop.Start();
    });
    Arguments List;
    for (const wchar_t* Value : {L"ostrel", L"-Resolution", L"320", L"240", L"-Duration", L"600"})
        List.push_back(Value);
    List.push_back(std::wstring(Target.begin(), Target.end()));
    Application Application(List);
    testing::internal::CaptureStdout();
    const HRESULT Result = Application.Do();
    const std::string Output = testing::internal::GetCapturedStdout();
    Interrupter.join();

    EXPECT_EQ(Result, HRESULT_FROM_WIN32(ERROR_CANCELLED));
    EXPECT_EQ(Output, "Exception: 0x800704C7\n");
    {
        std::ifstream Stream(Target);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(Stream), std::istreambuf_iterator<char>()), "earlier");
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(Folder), fs::directory_iterator()), 1);
    // The writer's and the work queue's threads are gone, and the signal is
    // the system's again.
    EXPECT_EQ(ThreadCount(), ThreadsBefore);
    EXPECT_FALSE(WritingInto(Folder));
    EXPECT_FALSE(SignalCaught(SIGTERM));
    fs::remove_all(Folder);
}

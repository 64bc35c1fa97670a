// The output file: a new file beside the target that takes its place whole,
// or vanishes.
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

extern "C" {
#include <libavformat/avio.h>
}

#include "FfmpegErrorPrinting.h"
#include "ffmpeg/FfmpegOutputFile.h"

using namespace Platform;
namespace fs = std::filesystem;

namespace {

class FfmpegOutputFileTest : public testing::TestWithParam<bool>
{
protected:
    void SetUp() override
    {
        char Template[] = "/tmp/ostrel-output-XXXXXX";
        ASSERT_NE(mkdtemp(Template), nullptr);
        m_Folder = Template;
    }
    void TearDown() override
    {
        if (m_Mounted)
            umount2(m_Folder.c_str(), MNT_DETACH);
        fs::remove_all(m_Folder);
    }

    std::string Path(const std::string& Name) const { return m_Folder + "/" + Name; }

    std::set<std::string> Entries() const
    {
        std::set<std::string> Names;
        for (const auto& Entry : fs::directory_iterator(m_Folder))
            Names.insert(Entry.path().filename());
        return Names;
    }

    static std::string Read(const std::string& File)
    {
        std::ifstream Stream(File, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(Stream), std::istreambuf_iterator<char>());
    }

    // Writes Text through a new output file for Target; answers Commit's result.
    static FfmpegError Write(const std::string& Target, const std::string& Text, bool Unnamed)
    {
        FfmpegOutputFile File(Unnamed);
        FfmpegError Result = File.Create(Target);
        if (Result.Failed())
            return Result;
        avio_write(File.Io(), reinterpret_cast<const unsigned char*>(Text.data()), static_cast<int>(Text.size()));
        return File.Commit();
    }

    // Runs Body in a child as an unprivileged user (65534 where this process
    // is root, else this process's own user); answers the child's status,
    // 77 when it could not take that user.
    static int AsUser(const std::function<int()>& Body)
    {
        const pid_t Child = fork();
        if (Child == 0)
        {
            if (geteuid() == 0 && (setgid(Nobody) != 0 || setuid(Nobody) != 0))
                _exit(77);
            _exit(Body());
        }
        int Status = 0;
        waitpid(Child, &Status, 0);
        return WIFEXITED(Status) ? WEXITSTATUS(Status) : 128;
    }

    static constexpr uid_t Nobody = 65534;
    std::string m_Folder;
    bool m_Mounted = false;
};

} // namespace

TEST_P(FfmpegOutputFileTest, ANewFileAppearsWholeWithThePermissionsOfAPlainCreate)
{
    const mode_t Saved = umask(027);
    const std::string Target = Path("new.mp4");
    {
        FfmpegOutputFile File(GetParam());
        ASSERT_EQ(File.Create(Target), Ok);
        avio_write(File.Io(), reinterpret_cast<const unsigned char*>("video"), 5);
        avio_flush(File.Io());
        // Until Commit, the target does not exist.
        EXPECT_FALSE(fs::exists(Target));
        ASSERT_EQ(File.Commit(), Ok);
        EXPECT_EQ(File.Commit(), Kind::InvalidRequest);
    }
    umask(Saved);
    EXPECT_EQ(Read(Target), "video");
    struct stat Status;
    ASSERT_EQ(stat(Target.c_str(), &Status), 0);
    EXPECT_EQ(Status.st_mode & 07777, 0640u);
    EXPECT_EQ(Entries(), std::set<std::string>{"new.mp4"});
}

TEST_P(FfmpegOutputFileTest, AReplacedFileKeepsItsModeAndAnUncommittedOneLeavesItAlone)
{
    const std::string Target = Path("old.mp4");
    std::ofstream(Target) << "earlier";
    chmod(Target.c_str(), 0604);
    {
        // Seeking and rewriting inside the new file, as muxers do, then no commit.
        FfmpegOutputFile File(GetParam());
        ASSERT_EQ(File.Create(Target), Ok);
        avio_write(File.Io(), reinterpret_cast<const unsigned char*>("xxxx"), 4);
        avio_seek(File.Io(), 0, SEEK_SET);
        avio_write(File.Io(), reinterpret_cast<const unsigned char*>("ab"), 2);
        avio_flush(File.Io());
        EXPECT_EQ(Read(Target), "earlier");
    }
    EXPECT_EQ(Read(Target), "earlier");
    EXPECT_EQ(Entries(), std::set<std::string>{"old.mp4"});

    ASSERT_EQ(Write(Target, "newer", GetParam()), Ok);
    EXPECT_EQ(Read(Target), "newer");
    struct stat Status;
    ASSERT_EQ(stat(Target.c_str(), &Status), 0);
    EXPECT_EQ(Status.st_mode & 07777, 0604u);
    EXPECT_EQ(Entries(), std::set<std::string>{"old.mp4"});
}

TEST_P(FfmpegOutputFileTest, LinksAreFollowedAndStay)
{
    fs::create_directory(Path("real"));
    std::ofstream(Path("real/video.mp4")) << "earlier";
    // A relative link names a file relative to the link's own folder.
    fs::create_symlink("real/video.mp4", Path("link.mp4"));
    fs::create_symlink("link.mp4", Path("chain.mp4"));
    ASSERT_EQ(Write(Path("chain.mp4"), "newer", GetParam()), Ok);
    EXPECT_TRUE(fs::is_symlink(Path("chain.mp4")));
    EXPECT_TRUE(fs::is_symlink(Path("link.mp4")));
    EXPECT_EQ(Read(Path("real/video.mp4")), "newer");

    // A link to nothing yet makes the file it names.
    fs::create_symlink("real/later.mp4", Path("dangling.mp4"));
    ASSERT_EQ(Write(Path("dangling.mp4"), "made", GetParam()), Ok);
    EXPECT_TRUE(fs::is_symlink(Path("dangling.mp4")));
    EXPECT_EQ(Read(Path("real/later.mp4")), "made");
    EXPECT_EQ(Entries(), (std::set<std::string>{"chain.mp4", "dangling.mp4", "link.mp4", "real"}));

    fs::create_symlink("loop.mp4", Path("loop.mp4"));
    EXPECT_EQ(FfmpegOutputFile::Check(Path("loop.mp4")), FfmpegError(Kind::FileCreation, ELOOP));
}

TEST_P(FfmpegOutputFileTest, WhatIsNotARegularFileIsRefusedWithoutBlocking)
{
    ASSERT_EQ(mkfifo(Path("fifo.mp4").c_str(), 0644), 0);
    fs::create_symlink("fifo.mp4", Path("tofifo.mp4"));
    fs::create_directory(Path("folder.mp4"));
    for (const char* Name : {"fifo.mp4", "tofifo.mp4"})
    {
        EXPECT_EQ(FfmpegOutputFile::Check(Path(Name)), Kind::TargetNotFile) << Name;
        EXPECT_EQ(FfmpegOutputFile(GetParam()).Create(Path(Name)), Kind::TargetNotFile) << Name;
    }
    EXPECT_EQ(FfmpegOutputFile::Check("/dev/null"), Kind::TargetNotFile);
    EXPECT_EQ(FfmpegOutputFile::Check(Path("folder.mp4")), Kind::TargetIsFolder);
    EXPECT_EQ(FfmpegOutputFile::Check(Path("missing/out.mp4")), FfmpegError(Kind::FileCreation, ENOENT));
    EXPECT_EQ(FfmpegOutputFile::Check(Path("fifo.mp4/out.mp4")), FfmpegError(Kind::FileCreation, ENOTDIR));
    EXPECT_EQ(Entries(), (std::set<std::string>{"fifo.mp4", "folder.mp4", "tofifo.mp4"}));
}

TEST_P(FfmpegOutputFileTest, AFullDiskFailsTheCommitAndLeavesTheOldFile)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to mount a small tmpfs";
    ASSERT_EQ(mount("tmpfs", m_Folder.c_str(), "tmpfs", 0, "size=64k"), 0);
    m_Mounted = true;
    const std::string Target = Path("full.mp4");
    std::ofstream(Target) << "earlier";
    const FfmpegError Result = Write(Target, std::string(1 << 20, 'v'), GetParam());
    EXPECT_EQ(Result, FfmpegError(Kind::FileWrite, ENOSPC));
    EXPECT_EQ(Read(Target), "earlier");
    EXPECT_EQ(Entries(), std::set<std::string>{"full.mp4"});
    // The space of the failed file came back.
    EXPECT_EQ(Write(Path("small.mp4"), std::string(16 << 10, 's'), GetParam()), Ok);
}

TEST_P(FfmpegOutputFileTest, SetuidAndSetgidNeverSurviveAReplacementAndOtherBitsDo)
{
    const std::string Target = Path("old.mp4");
    std::ofstream(Target) << "earlier";
    ASSERT_EQ(chmod(Target.c_str(), 07751), 0);
    ASSERT_EQ(Write(Target, "newer", GetParam()), Ok);
    struct stat Status;
    ASSERT_EQ(stat(Target.c_str(), &Status), 0);
    EXPECT_EQ(Status.st_mode & 07777, 01751u);
}

TEST_P(FfmpegOutputFileTest, WhatThePlainOpenWouldRefuseIsLeftAlone)
{
    // The caller's own folder: a file it may not write; a folder it may not
    // write, with a file in it that it may.
    const std::string Mine = Path("mine");
    fs::create_directory(Mine);
    fs::create_directory(Mine + "/locked");
    std::ofstream(Mine + "/prot.mp4") << "kept";
    std::ofstream(Mine + "/locked/open.mp4") << "kept";
    ASSERT_EQ(chmod((Mine + "/prot.mp4").c_str(), 0444), 0);
    ASSERT_EQ(chmod((Mine + "/locked/open.mp4").c_str(), 0666), 0);
    ASSERT_EQ(chmod((Mine + "/locked").c_str(), 0555), 0);
    if (geteuid() == 0)
    {
        ASSERT_EQ(chmod(m_Folder.c_str(), 0755), 0);
        for (const std::string& Name : {Mine, Mine + "/prot.mp4", Mine + "/locked", Mine + "/locked/open.mp4"})
            ASSERT_EQ(chown(Name.c_str(), Nobody, Nobody), 0) << Name;
    }
    const bool Unnamed = GetParam();
    const int Status = AsUser([&] {
        int Wrong = 0;
        for (const std::string& Name : {Mine + "/prot.mp4", Mine + "/locked/open.mp4"})
        {
            Wrong += FfmpegOutputFile::Check(Name) != FfmpegError(Kind::FileCreation, EACCES);
            Wrong += FfmpegOutputFile(Unnamed).Create(Name) != FfmpegError(Kind::FileCreation, EACCES);
        }
        // A file it may write in a folder it may write is replaced.
        Wrong += Write(Mine + "/new.mp4", "made", Unnamed) != Ok;
        return Wrong;
    });
    if (Status == 77)
        GTEST_SKIP() << "could not run as user " << Nobody;
    EXPECT_EQ(Status, 0);
    EXPECT_EQ(Read(Mine + "/prot.mp4"), "kept");
    EXPECT_EQ(Read(Mine + "/locked/open.mp4"), "kept");
    EXPECT_EQ(Read(Mine + "/new.mp4"), "made");
    std::set<std::string> Names;
    for (const auto& Entry : fs::recursive_directory_iterator(Mine))
        Names.insert(Entry.path().lexically_relative(Mine));
    EXPECT_EQ(Names, (std::set<std::string>{"locked", "locked/open.mp4", "new.mp4", "prot.mp4"}));
}

TEST_P(FfmpegOutputFileTest, InASharedFolderOnlyTheCallersAndTheOwnersLinksAndFilesAreUsed)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to give files to another user";
    // A folder like /tmp, owned by the caller: another user's link, a chain
    // through one, and another user's file are refused at every hop.
    ASSERT_EQ(chmod(m_Folder.c_str(), 01777), 0);
    const std::string Secret = Path("secret");
    std::ofstream(Secret) << "private";
    ASSERT_EQ(chmod(Secret.c_str(), 0600), 0);
    fs::create_symlink("secret", Path("theirs.mp4"));
    ASSERT_EQ(lchown(Path("theirs.mp4").c_str(), Nobody, Nobody), 0);
    fs::create_symlink("theirs.mp4", Path("chain.mp4"));
    std::ofstream(Path("planted.mp4")) << "planted";
    ASSERT_EQ(chown(Path("planted.mp4").c_str(), Nobody, Nobody), 0);
    ASSERT_EQ(chmod(Path("planted.mp4").c_str(), 0666), 0);
    for (const char* Name : {"theirs.mp4", "chain.mp4", "planted.mp4"})
    {
        EXPECT_EQ(FfmpegOutputFile::Check(Path(Name)), FfmpegError(Kind::FileCreation, EACCES)) << Name;
        EXPECT_EQ(Write(Path(Name), "video", GetParam()), FfmpegError(Kind::FileCreation, EACCES)) << Name;
    }
    EXPECT_EQ(Read(Secret), "private");
    EXPECT_EQ(Read(Path("planted.mp4")), "planted");
    EXPECT_EQ(Entries(), (std::set<std::string>{"chain.mp4", "planted.mp4", "secret", "theirs.mp4"}));

    // The caller's own link there is followed.
    fs::create_symlink("secret", Path("own.mp4"));
    EXPECT_EQ(Write(Path("own.mp4"), "video", GetParam()), Ok);
    EXPECT_EQ(Read(Secret), "video");

    // A folder shared by its owner: that owner's link and file are used, and
    // the replaced file stays the owner's.
    const std::string Shared = Path("shared");
    fs::create_directory(Shared);
    ASSERT_EQ(chown(Shared.c_str(), Nobody, Nobody), 0);
    ASSERT_EQ(chmod(Shared.c_str(), 01777), 0);
    std::ofstream(Shared + "/owners.mp4") << "earlier";
    ASSERT_EQ(chown((Shared + "/owners.mp4").c_str(), Nobody, Nobody), 0);
    ASSERT_EQ(chmod((Shared + "/owners.mp4").c_str(), 0640), 0);
    fs::create_symlink("owners.mp4", Shared + "/link.mp4");
    ASSERT_EQ(lchown((Shared + "/link.mp4").c_str(), Nobody, Nobody), 0);
    EXPECT_EQ(Write(Shared + "/link.mp4", "video", GetParam()), Ok);
    EXPECT_EQ(Read(Shared + "/owners.mp4"), "video");
    struct stat Status;
    ASSERT_EQ(stat((Shared + "/owners.mp4").c_str(), &Status), 0);
    EXPECT_EQ(Status.st_uid, Nobody);
    EXPECT_EQ(Status.st_mode & 07777, 0640u);
}

INSTANTIATE_TEST_SUITE_P(UnnamedAndHidden, FfmpegOutputFileTest, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& Info) { return Info.param ? "Unnamed" : "Hidden"; });

#include "FfmpegOutputFile.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

extern "C" {
#include <libavformat/avio.h>
#include <libavformat/version.h>
#include <libavutil/mem.h>
}

#include "FfmpegErrors.h"

namespace Platform {

namespace {

// Links followed before the path counts as a loop, as the kernel counts.
constexpr int MaxLinks = 40;
// FFmpeg's buffer between the muxer and the file.
constexpr int IoBufferSize = 256 * 1024;
// Names tried for a hidden file before giving up.
constexpr int HiddenNameAttempts = 100;
// The target's name in a hidden name is cut so that the whole stays short.
constexpr size_t HiddenNameStem = 200;

using Kind = FfmpegError::Kind;

FfmpegError FileError(int Errno) { return FfmpegErrorFromAverror(AVERROR(Errno), Kind::FileCreation); }

// Naming the finished file and putting it in place end its writing: a device
// error there is a write fault, as it is while the bytes go out.
FfmpegError CommitError(int Errno)
{
    return Errno == EIO ? FfmpegErrorFromAverror(AVERROR(Errno), Kind::FileWrite) : FileError(Errno);
}

std::string FolderOf(const std::string& Path)
{
    const size_t Slash = Path.find_last_of('/');
    if (Slash == std::string::npos)
        return ".";
    if (Slash == 0)
        return "/";
    return Path.substr(0, Slash);
}

std::string NameOf(const std::string& Path)
{
    const size_t Slash = Path.find_last_of('/');
    return Slash == std::string::npos ? Path : Path.substr(Slash + 1);
}

// A folder where anyone may make files and only their owners may remove them,
// such as /tmp.
bool Shared(const struct stat& Folder) { return (Folder.st_mode & S_ISVTX) && (Folder.st_mode & S_IWOTH); }

// Whether what another user left in a shared folder may be used as the
// caller's own: it is the caller's or the folder owner's, as the kernel
// judges links and files there.
bool Trusted(uid_t Owner, const struct stat& Folder)
{
    return !Shared(Folder) || Owner == geteuid() || Owner == Folder.st_uid;
}

// Follows symbolic links at Path to what they finally name, which may not
// exist yet. A link in a shared folder is followed only where the kernel
// would follow it.
FfmpegError ResolveLinks(std::string Path, std::string& Resolved)
{
    for (int Hop = 0; Hop < MaxLinks; ++Hop)
    {
        struct stat Status;
        if (lstat(Path.c_str(), &Status) != 0 || !S_ISLNK(Status.st_mode))
        {
            Resolved = std::move(Path);
            return {};
        }
        struct stat FolderStatus;
        if (stat(FolderOf(Path).c_str(), &FolderStatus) != 0)
            return FileError(errno);
        if (!Trusted(Status.st_uid, FolderStatus))
            return FileError(EACCES);
        char Target[PATH_MAX];
        const ssize_t Length = readlink(Path.c_str(), Target, sizeof Target);
        if (Length < 0)
            return FileError(errno);
        if (static_cast<size_t>(Length) >= sizeof Target)
            return FileError(ENAMETOOLONG);
        const std::string Next(Target, static_cast<size_t>(Length));
        Path = Next.front() == '/' ? Next : FolderOf(Path) + "/" + Next;
    }
    return FileError(ELOOP);
}

// The target must be absent or a regular file that the caller may write and
// call its own, and its folder must take files. A folder that does not is
// said on standard error, since the failure's code alone cannot tell it
// from a file that may not be written.
FfmpegError CheckResolved(const std::string& Target, struct stat& Status, bool& Exists)
{
    Exists = stat(Target.c_str(), &Status) == 0;
    if (Exists && S_ISDIR(Status.st_mode))
        return Kind::TargetIsFolder;
    if (Exists && !S_ISREG(Status.st_mode))
        return Kind::TargetNotFile;
    const std::string Folder = FolderOf(Target);
    struct stat FolderStatus;
    if (stat(Folder.c_str(), &FolderStatus) != 0)
        return FileError(errno);
    if (!S_ISDIR(FolderStatus.st_mode))
        return FileError(ENOTDIR);
    // As an open for writing would: a file that may not be written is not
    // replaced, nor another user's file in a shared folder.
    if (Exists && !Trusted(Status.st_uid, FolderStatus))
        return FileError(EACCES);
    if (Exists && faccessat(AT_FDCWD, Target.c_str(), W_OK, AT_EACCESS) != 0)
        return FileError(errno);
    if (faccessat(AT_FDCWD, Folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
    {
        const int Error = errno;
        if (Error == EACCES || Error == EROFS)
        {
            std::fprintf(stderr, "Ostrel: the folder %s does not take new files: %s\n", Folder.c_str(),
                         std::strerror(Error));
            std::fflush(stderr);
        }
        return FileError(Error);
    }
    return {};
}

#if LIBAVFORMAT_VERSION_MAJOR >= 61
using PacketBytes = const uint8_t*;
#else
using PacketBytes = uint8_t*;
#endif

int WritePacket(void* Opaque, PacketBytes Data, int Size)
{
    const int Fd = *static_cast<int*>(Opaque);
    for (int Written = 0; Written < Size;)
    {
        const ssize_t Result = write(Fd, Data + Written, static_cast<size_t>(Size - Written));
        if (Result < 0 && errno == EINTR)
            continue;
        if (Result < 0)
            return AVERROR(errno);
        Written += static_cast<int>(Result);
    }
    return Size;
}

int64_t Seek(void* Opaque, int64_t Offset, int Whence)
{
    const int Fd = *static_cast<int*>(Opaque);
    if (Whence & AVSEEK_SIZE)
    {
        struct stat Status;
        return fstat(Fd, &Status) == 0 ? static_cast<int64_t>(Status.st_size) : AVERROR(errno);
    }
    const off_t Position = lseek(Fd, static_cast<off_t>(Offset), Whence & ~AVSEEK_FORCE);
    return Position < 0 ? AVERROR(errno) : static_cast<int64_t>(Position);
}

// Names an unnamed file: by its descriptor where the kernel allows that, else
// through /proc. Answers 0 or the errno.
int LinkUnnamed(int Fd, int Folder, const std::string& Name)
{
    if (linkat(Fd, "", Folder, Name.c_str(), AT_EMPTY_PATH) == 0)
        return 0;
    if (errno == EEXIST)
        return EEXIST;
    char Path[64];
    std::snprintf(Path, sizeof Path, "/proc/self/fd/%d", Fd);
    return linkat(AT_FDCWD, Path, Folder, Name.c_str(), AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
}

// Sync errors of a folder are not the video's: some file systems refuse it.
void SyncFolder(int Folder) { fsync(Folder); }

} // namespace

FfmpegOutputFile::~FfmpegOutputFile() { Discard(); }

FfmpegError FfmpegOutputFile::Check(const std::string& Path)
{
    std::string Target;
    FfmpegError Result = ResolveLinks(Path, Target);
    if (Result.Failed())
        return Result;
    struct stat Status;
    bool Exists = false;
    return CheckResolved(Target, Status, Exists);
}

FfmpegError FfmpegOutputFile::Create(const std::string& Path)
{
    if (m_Fd != -1)
        return Kind::InvalidRequest;
    std::string Target;
    FfmpegError Result = ResolveLinks(Path, Target);
    struct stat Status;
    bool Exists = false;
    if (!Result.Failed())
        Result = CheckResolved(Target, Status, Exists);
    if (Result.Failed())
        return Result;
    m_Replaces = Exists;
    m_Mode = Status.st_mode & 07777 & ~static_cast<unsigned>(S_ISUID | S_ISGID);
    m_Owner = Status.st_uid;
    m_Group = Status.st_gid;
    m_Name = NameOf(Target);

    m_Folder = open(FolderOf(Target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_Folder == -1)
        return FileError(errno);
    if (m_PreferUnnamed && UnnamedFilesLink())
    {
        m_Fd = openat(m_Folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
        if (m_Fd == -1)
            Result = FileError(errno);
    }
    else
        Result = CreateHidden(m_Hidden, m_Fd);
    if (!Result.Failed())
    {
        KeepOwnerAndMode(m_Fd);
        auto* Buffer = static_cast<unsigned char*>(av_malloc(IoBufferSize));
        m_Io = Buffer ? avio_alloc_context(Buffer, IoBufferSize, 1, &m_Fd, nullptr, WritePacket, Seek) : nullptr;
        if (m_Io)
            m_Io->seekable = AVIO_SEEKABLE_NORMAL;
        else
        {
            av_free(Buffer);
            Result = Kind::OutOfMemory;
        }
    }
    if (Result.Failed())
        Discard();
    return Result;
}

FfmpegError FfmpegOutputFile::Commit()
{
    if (!m_Io)
        return Kind::InvalidRequest;
    avio_flush(m_Io);
    FfmpegError Result = FfmpegErrorFromAverror(m_Io->error, Kind::FileWrite);
    if (!Result.Failed() && fsync(m_Fd) != 0)
        Result = FfmpegErrorFromAverror(AVERROR(errno), Kind::FileWrite);
    if (!Result.Failed() && m_Hidden.empty())
        Result = Name(m_Hidden);
    if (!Result.Failed() && renameat(m_Folder, m_Hidden.c_str(), m_Folder, m_Name.c_str()) != 0)
        Result = CommitError(errno);
    if (Result.Failed())
    {
        Discard();
        return Result;
    }
    m_Hidden.clear();
    SyncFolder(m_Folder);
    Close();
    return {};
}

void FfmpegOutputFile::Discard()
{
    if (!m_Hidden.empty() && m_Folder != -1)
        unlinkat(m_Folder, m_Hidden.c_str(), 0);
    m_Hidden.clear();
    Close();
}

// Gives the unnamed file a hidden name beside the target.
FfmpegError FfmpegOutputFile::Name(std::string& Hidden) const
{
    for (int Attempt = 0; Attempt < HiddenNameAttempts; ++Attempt)
    {
        std::string Candidate;
        FfmpegError Result = RandomHiddenName(Candidate);
        if (Result.Failed())
            return Result;
        const int Error = LinkUnnamed(m_Fd, m_Folder, Candidate);
        if (Error == 0)
        {
            Hidden = std::move(Candidate);
            return {};
        }
        if (Error != EEXIST)
            return CommitError(Error);
    }
    return CommitError(EEXIST);
}

// Whether an unnamed file in the folder can be named once it is complete;
// asked of a throwaway one, since naming cannot be undone.
bool FfmpegOutputFile::UnnamedFilesLink() const
{
    const int Probe = openat(m_Folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (Probe == -1)
        return false;
    bool Links = false;
    for (int Attempt = 0; Attempt < HiddenNameAttempts; ++Attempt)
    {
        std::string Candidate;
        if (RandomHiddenName(Candidate).Failed())
            break;
        const int Error = LinkUnnamed(Probe, m_Folder, Candidate);
        if (Error == EEXIST)
            continue;
        if (Error == 0)
            unlinkat(m_Folder, Candidate.c_str(), 0);
        Links = Error == 0;
        break;
    }
    close(Probe);
    return Links;
}

FfmpegError FfmpegOutputFile::RandomHiddenName(std::string& Hidden) const
{
    static const char Letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    unsigned char Random[8];
    if (getrandom(Random, sizeof Random, 0) != static_cast<ssize_t>(sizeof Random))
        return FileError(errno);
    // Written into room reserved first: GCC 12 takes "." + a string (and an
    // append of a part of one) for an overlapping copy (-Wrestrict at -O3).
    const std::string_view Stem = std::string_view(m_Name).substr(0, HiddenNameStem);
    Hidden.clear();
    Hidden.reserve(Stem.size() + 2 + sizeof Random);
    Hidden.push_back('.');
    Hidden.insert(Hidden.end(), Stem.begin(), Stem.end());
    Hidden.push_back('.');
    for (unsigned char Byte : Random)
        Hidden.push_back(Letters[Byte % (sizeof Letters - 1)]);
    return {};
}

FfmpegError FfmpegOutputFile::CreateHidden(std::string& Hidden, int& Fd) const
{
    for (int Attempt = 0; Attempt < HiddenNameAttempts; ++Attempt)
    {
        std::string Candidate;
        FfmpegError Result = RandomHiddenName(Candidate);
        if (Result.Failed())
            return Result;
        Fd = openat(m_Folder, Candidate.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0666);
        if (Fd != -1)
        {
            Hidden = std::move(Candidate);
            return {};
        }
        if (errno != EEXIST)
            return FileError(errno);
    }
    return FileError(EEXIST);
}

void FfmpegOutputFile::KeepOwnerAndMode(int Fd) const
{
    if (!m_Replaces)
        return;
    // Only a privileged process can keep another user's ownership; the mode
    // is kept in every case (after the owner, whose change would clear bits).
    [[maybe_unused]] const int Owned = fchown(Fd, m_Owner, m_Group);
    fchmod(Fd, m_Mode);
}

void FfmpegOutputFile::Close()
{
    if (m_Io)
    {
        av_freep(&m_Io->buffer);
        avio_context_free(&m_Io);
    }
    if (m_Fd != -1)
        close(std::exchange(m_Fd, -1));
    if (m_Folder != -1)
        close(std::exchange(m_Folder, -1));
}

} // namespace Platform
